// The catalogue of message tags: the tag id and name of each XML message of
// the central server that the proxy sends or reads by tag, by namespace and
// message id.
#pragma once

#include <cstdint>

struct CNMessageTag {
  int nameSpace;
  int messageId;
  uint32_t tagId;
  const char* name;
};

namespace CNMessageTags {
// Null for a message the catalogue does not list.
const CNMessageTag* Find(int nameSpace, int messageId);
}  // namespace CNMessageTags
