// KXPI_Focus: the instance focus of this process, the name of the product
// instance whose settings and records it works with. A proxy host runs one
// instance, "Instance001" until setFocus names another.
#pragma once

#include <string>

class KXPI_Focus {
 public:
  static std::string getFocus();
  // The focus from now on, for every thread of the process.
  static void setFocus(const std::string& name);
  // The client name of the machine this process runs on: the string value
  // "sClientName" of the section "Machine", else the host's name. `forLookup`
  // chooses nothing in this store (both uses get the same name).
  static std::string getFocusClientName(bool forLookup);
};
