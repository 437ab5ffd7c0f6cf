// Fuzzes the XML job options as the restore reads them: CNMessageBase's
// unserialize on arbitrary text, then the walk to the restore options
// (member 2) and to field 102 of their member 31, and the text form of
// whatever parsed coming back the same.
#include <string>

#include "CNMessageBase.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzQuietLogging();
  if (size > 1 << 18) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  CNMessageBase options(12, 262);
  if (options.unserialize(text) != 0) return 0;
  CNMessageBase* restore = options.getObjectAccessor(true, false, 2, 2, 0x0cbcae72, 0x00caf030, 12, 311);
  if (restore) {
    CNMessageBase* remove = restore->getObjectAccessor(true, false, 31, 31, 0x0c08d483, 0x00840633, 12, 251);
    if (remove) (void)remove->getint64(102, 102, 0x0c28ae65, 0x009349e3);
  }
  std::string serialized;
  options.serialize(serialized, false);
  CNMessageBase back(12, 262);
  FUZZ_CHECK(back.unserialize(serialized) == 0, "its own text form does not parse");
  std::string twice;
  back.serialize(twice, false);
  FUZZ_CHECK(twice == serialized, "text form not stable");
  return 0;
}
