// KXPI_Focus: the instance focus of this process, the name of the product
// instance whose settings and records it works with. A proxy host runs one
// instance, "Instance001".
#pragma once

#include <string>

class KXPI_Focus {
 public:
  static std::string getFocus();
};
