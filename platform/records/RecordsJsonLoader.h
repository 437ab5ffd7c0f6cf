// RecordsJsonLoader: fills a RecordRegistry from a JSON records file (the
// example host's configuration records; format in docs/records-file.md).
//
// The load is all or nothing: on success the registry holds exactly what the
// file describes (its former content is replaced); on any error it is left
// unchanged and the error (errno kind: the open failure's number, or EINVAL
// for a file that is not valid JSON or not of the documented shape) names the
// file and the place of the fault, e.g. "clients[1].osId: expected an
// integer".
#pragma once

#include <string>

#include "CWqError.h"
#include "RecordRegistry.h"

class RecordsJsonLoader {
 public:
  static CWqError LoadFile(const std::string& path, RecordRegistry& registry);
  // `origin` names the text in error messages.
  static CWqError LoadText(const std::string& text, const std::string& origin,
                           RecordRegistry& registry);
};
