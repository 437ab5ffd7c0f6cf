// The browse reply: the decoder on input bytes, then, for a reply that
// decodes, the entry walk into both modes: the response's item list and the
// requester's stream (over a socket pair, read back and parsed).
//
// Checked: no crash, leak or sanitizer report; "." and ".." are never
// delivered; the items delivered are the other entries in order, with their
// folder flag (type 1 only), value and size; in stream mode names end at
// their first NUL, as the stream's items carry C strings; the stream ends
// with the count record when there were items and always with the end record.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "AppMsgs.h"
#include "CWqSocket.h"
#include "ClMallocBlock.h"
#include "ClProxyWire.h"
#include "ClServiceMsgs.h"
#include "FuzzSupport.h"
#include "service/ServiceBrowse.h"

namespace {

struct Expected {
  uint32_t directory;
  std::string name;
  uint32_t value;
  int64_t size;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (FuzzQuietLogging(), true);
  (void)quiet;
  if (size > 0xFFFFFFFFu) return 0;
  ClMallocBlock payload = ClMallocBlockOf(static_cast<uint32_t>(size));
  if (size) std::memcpy(payload.get(), data, size);
  std::unique_ptr<ClClientBrowseRepMsg> reply = ClClientBrowseRepMsg::decode(std::move(payload), static_cast<uint32_t>(size));
  if (!reply) return 0;
  std::vector<Expected> expected;
  ClClientBrowseRepMsg::EntryView entry;
  ClClientBrowseRepMsg::Cursor cursor(*reply);
  size_t entries = 0;
  for (; cursor.next(entry); ++entries) {
    const std::string name(entry.name, entry.nameSize);
    if (name != "." && name != "..") expected.push_back({entry.type == 1 ? 1u : 0u, name, entry.value, entry.size});
  }
  FUZZ_CHECK(entries == reply->entryCount(), "%zu entries read of %u", entries, reply->entryCount());

  // Response mode.
  {
    EvRestoreReturn unused(1, 1025, true, nullptr, nullptr);
    App::MachineBrowseResp response;
    DeliverBrowseEntries(*reply, &response, unused);
    std::string text;
    response.serialize(text, false);  // straight from the packed items
    static std::vector<CNMessageBase> none;
    std::vector<CNMessageBase>* list = response.getlistobject(2, 5, 0, 0, false);
    std::vector<CNMessageBase>& items = list ? *list : none;
    FUZZ_CHECK(!list || !expected.empty() || items.empty(), "items without entries");
    App::MachineBrowseResp reread;
    FUZZ_CHECK(reread.unserialize(text) == CN_PARSE_OK, "the response's text does not read back");
    std::vector<CNMessageBase>* rereadList = reread.getlistobject(2, 5, 0, 0, false);
    FUZZ_CHECK((rereadList ? rereadList->size() : 0) == items.size(), "the text holds other items");
    FUZZ_CHECK(items.size() == expected.size(), "%zu items for %zu entries", items.size(), expected.size());
    for (size_t i = 0; i < items.size(); ++i) {
      FUZZ_CHECK(items[i].getstring(5) == expected[i].name, "item %zu: name", i);
      FUZZ_CHECK(items[i].getint64(1) == expected[i].directory, "item %zu: folder flag", i);
      FUZZ_CHECK(items[i].getint64(2) == expected[i].value, "item %zu: value", i);
      FUZZ_CHECK(items[i].getint64(3) == expected[i].size, "item %zu: size", i);
    }
  }

  // Stream mode, read back by the requester.
  int pair[2];
  FuzzSocketPair(pair);
  CWqSocket requester;
  requester.AttachConnectedSocket(CWqSocketDescriptor(pair[0]));
  {
    EvRestoreReturn stream(1, 1025, true, &requester, nullptr);
    DeliverBrowseEntries(*reply, nullptr, stream);
    stream.end(0);
    FUZZ_CHECK(!stream.failure().IsError(), "stream write: %s", stream.failure().AsString().c_str());
  }
  requester.Close();
  std::vector<uint8_t> bytes;
  uint8_t block[65536];
  ssize_t n;
  while ((n = ::read(pair[1], block, sizeof block)) > 0) bytes.insert(bytes.end(), block, block + n);
  ::close(pair[1]);
  std::vector<EvReturnRecord> records;
  FUZZ_CHECK(ParseReturnRecords(bytes, records), "the stream ends inside a record");
  const size_t tail = expected.empty() ? 1 : 2;
  FUZZ_CHECK(records.size() == expected.size() + tail, "%zu records for %zu items", records.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EvRestoreReturn::Item item;
    FUZZ_CHECK(records[i].tag == EvReturnData::kItemTag && EvRestoreReturn::DecodeItem(records[i].payload, item),
               "record %zu is no item", i);
    const std::string name = expected[i].name.substr(0, expected[i].name.find('\0'));
    FUZZ_CHECK(item.name == name && item.directory == expected[i].directory && item.value == expected[i].value &&
                   item.size == expected[i].size,
               "item %zu differs", i);
  }
  if (!expected.empty()) {
    uint32_t count = 0;
    FUZZ_CHECK(records[expected.size()].tag == EvRestoreReturn::kCountTag && records[expected.size()].payload.size() == 4,
               "no count record");
    std::memcpy(&count, records[expected.size()].payload.data(), 4);
    FUZZ_CHECK(count == expected.size(), "count %u for %zu items", count, expected.size());
  }
  FUZZ_CHECK(records.back().tag == EvReturnData::kEndTag, "no end record");
  return 0;
}
