// The browse mode of the example host: one directory of a simulated IBM i
// client listed as another process of the product asks for it, either
// streamed back item by item to the requester's socket (each entry as the
// requester receives it: folder flag, size, name, then the count and end
// records) or, with --response, into the XML response the requester sends
// on (printed).
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "AppMsgs.h"
#include "ClProxyWire.h"
#include "ExampleConsole.h"
#include "ExampleFiles.h"
#include "ExampleJob.h"
#include "ExampleModes.h"
#include "ExampleStages.h"
#include "FXErrorUtil.h"
#include "SampleContent.h"
#include "ServiceClient.h"
#include "service/EvRestoreReturn.h"
#include "service/ProxyServices.h"

namespace {

// The requester's side of the result stream: a socket pair whose other end
// is read while the browse writes (a listing larger than the socket's buffer
// would stall it otherwise), up to its end.
void ReadStream(int readEnd, std::vector<uint8_t>& bytes) {
  uint8_t block[4096];
  ssize_t n;
  while ((n = ::read(readEnd, block, sizeof block)) > 0) bytes.insert(bytes.end(), block, block + n);
}

CWqError PrintStream(const std::vector<uint8_t>& bytes) {
  std::vector<EvReturnRecord> records;
  if (!ParseReturnRecords(bytes, records))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "The result stream ends inside a record");
  std::printf("the requester received %s:\n", Counted(records.size(), "record", "records").c_str());
  for (const EvReturnRecord& record : records) {
    EvRestoreReturn::Item item;
    if (record.tag == EvReturnData::kItemTag && EvRestoreReturn::DecodeItem(record.payload, item)) {
      std::printf("  %-6s %10lld  %s\n", item.directory ? "folder" : "file", static_cast<long long>(item.size),
                  item.name.c_str());
    } else if (record.tag == EvRestoreReturn::kCountTag && record.payload.size() == 4) {
      uint32_t count = 0;
      std::memcpy(&count, record.payload.data(), 4);  // the host's byte order
      std::printf("  count record: %s\n", Counted(count, "item", "items").c_str());
    } else if (record.tag == EvReturnData::kEndTag && record.payload.size() == 8) {
      std::printf("  end record: code %lld\n", static_cast<long long>(ClProxyWire::GetU64(record.payload.data())));
    } else {
      std::printf("  record of tag %u (%zu bytes)\n", record.tag, record.payload.size());
    }
  }
  return CWqError::Success();
}

CWqError RunBrowseJob(const ExampleOptions& options) {
  ServiceClient client;
  CWqError result = client.Prepare(options);
  if (!result.IsError()) result = MakeSampleContent(client.clientFolder());
  if (!result.IsError()) result = client.Start();
  if (result.IsError()) return result;
  ProxyServicesPtr handle = ProxyServices::instanceForClient(ExampleJob::kClientId);
  if (!handle) return FXErrorUtil::ErrorErrNo(FX_HERE, ECONNREFUSED, "No service instance (see the log)");

  std::string path = options.browsePath;
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, errno, "socketpair: %s", std::strerror(errno));
  CWqSocket requester;
  requester.AttachConnectedSocket(CWqSocketDescriptor(pair[0]));
  App::MachineBrowseResp response;
  App::GenericResp generic;
  std::printf("machineBrowse: %s in %s mode\n", path.c_str(), options.browseResponse ? "response" : "stream");
  std::vector<uint8_t> streamed;
  std::thread reader(ReadStream, pair[1], std::ref(streamed));
  result = handle->machineBrowse(&path[0], requester, 1, 0, options.browseResponse, &response, &generic, nullptr);
  requester.Shutdown(SHUT_WR);
  reader.join();
  if (options.browseResponse) {
    std::string xml;
    response.serialize(xml, false);
    std::printf("the response:\n%s\n", xml.c_str());
    if (!response.lastErrorEnglish().empty()) std::printf("its error text: %s\n", response.lastErrorEnglish().c_str());
  } else {
    CWqError printed = PrintStream(streamed);
    if (!result.IsError()) result = printed;
  }
  requester.Close();
  ::close(pair[1]);
  return result;
}

void AddBrowseOptions(CLI::App& command, ExampleOptions& options) {
  command.add_option("path", options.browsePath, "The client folder to list (default \"/\").")->type_name("PATH");
  command.add_flag("--response", options.browseResponse, "Fill the XML response instead of streaming the items.");
}

int RunBrowse(const ExampleOptions& options) {
  ExampleStage stage("browse");
  CWqError result = RunBrowseJob(options);
  if (result.IsError()) stage.Failed(result.Push(FX_HERE, "Listing %s on the client", options.browsePath.c_str()));
  if (!result.IsError()) stage.Done(1, 0, false);
  return ReportModeResult(result, "browse");
}

}  // namespace

ExampleMode BrowseMode() {
  return ExampleMode{"browse", "List a folder of a simulated IBM i client through its service instance.",
                     AddBrowseOptions, RunBrowse, false};
}
