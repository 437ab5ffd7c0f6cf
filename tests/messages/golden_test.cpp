// Golden bytes: the wire form of one message of each shape, written out by
// hand. The same expectations hold on a little-endian and a big-endian host,
// which is what makes the wire host-independent.
#include <gtest/gtest.h>

#include "ClProxyMessages.h"
#include "ClServiceMsgs.h"
#include "msg_test_util.h"

namespace {

TEST(GoldenBytesTest, EmptyMessageIsTheHeaderAlone) {
  ClEmptyMsg msg(JOB_COMPLETE_MSG);
  EXPECT_EQ(BYTES("PXM1" "\x80\x06" "\x00\x00" "\x00\x00\x00\x00"), EncodeFrame(msg));
}

TEST(GoldenBytesTest, BlobMessageIsHeaderAndBytes) {
  ClBlobMsg msg(FILE_DATA_MSG, ClBlobMsg::Copy, "abc", 3);
  EXPECT_EQ(BYTES("PXM1" "\x40\x0A" "\x00\x00" "\x00\x00\x00\x03" "abc"), EncodeFrame(msg));
}

// Every ownership form gives the same bytes; a borrowed block is read where
// it lies, an adopted one is freed once with the message (ASan's leak and
// double-free checks watch it).
TEST(GoldenBytesTest, BlobOwnershipFormsGiveTheSameBytes) {
  const std::vector<uint8_t> golden = BYTES("PXM1" "\x40\x0A" "\x00\x00" "\x00\x00\x00\x03" "abc");
  char lent[] = "abc";
  {
    ClBlobMsg borrowed(FILE_DATA_MSG, ClBlobMsg::Borrow, lent, 3);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(lent), borrowed.getBlob());
    EXPECT_EQ(golden, EncodeFrame(borrowed));
    lent[0] = 'x';  // still the lender's block
    EXPECT_EQ('x', borrowed.getBlob()[0]);
  }
  EXPECT_STREQ("xbc", lent);  // not freed, not changed by the message

  char* block = new char[3]{'a', 'b', 'c'};
  std::unique_ptr<ClBlobMsg> adopted = ClBlobMsg::Adopt(FILE_DATA_MSG, block, 3);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(block), adopted->getBlob());  // taken over, not copied
  EXPECT_EQ(golden, EncodeFrame(*adopted));
  adopted.reset();

  std::unique_ptr<ClBlobMsg> empty = ClBlobMsg::Adopt(FILE_DATA_MSG, static_cast<uint8_t*>(nullptr), 0);
  EXPECT_EQ(0u, empty->getBlobSize());
}

TEST(GoldenBytesTest, LaunchServiceRequest) {
  ClLaunchCmdMsg msg(0, "SERVICE");
  EXPECT_EQ(BYTES("PXM1" "\x01\x01" "\x00\x00" "\x00\x00\x00\x0D"
                  "\x00\x00" "\x00\x00\x00\x07" "SERVICE"),
            EncodeFrame(msg));
}

TEST(GoldenBytesTest, ServiceRequests) {
  EXPECT_EQ(BYTES("\x00\x00\x00\x03" "\x00\x00\x00\x02" "\x00\x00\x00\x0A"),
            EncodePayload(ClCreateIndexFlagMsg(ClCreateIndexFlagMsg::kQuery, 2, 10)));
  EXPECT_EQ(BYTES("PXM1" "\x01\x1C" "\x00\x00" "\x00\x00\x00\x06" "\x00\x00\x00\x02" "/a"),
            EncodeFrame(ClClientBrowseReqMsg("/a")));
  EXPECT_EQ(BYTES("\x80\x00\x00\x01" "\x00\x00\x00\x00\x00\x00\x00\x05"),
            EncodePayload(ClDownloadLogFile(0x80000001u, 5)));
  int first = 2, second = -1;
  unsigned long third = 0x100000001ul;
  EXPECT_EQ(BYTES("\x00\x00\x00\x02" "\xFF\xFF\xFF\xFF" "\x00\x00\x00\x01\x00\x00\x00\x01"),
            EncodePayload(ClDownloadDirChangeFile(first, second, third)));
}

TEST(GoldenBytesTest, DRSizeAndTapeInitialisation) {
  ClClientBackupSize size(2, 17, 0x1CBE991A14ul);
  size.addUserLibrary("/A");
  size.setClientBackupSize(0x1000);
  EXPECT_EQ(BYTES("PXM1" "\x00\x66" "\x00\x00" "\x00\x00\x00\x1E"
                  "\x00\x00\x00\x02" "\x00\x00\x00\x11" "\x00\x00\x00\x1C\xBE\x99\x1A\x14"
                  "\x00\x00\x00\x01" "\x00\x00\x00\x02" "/A" "\x00\x00\x10\x00"),
            EncodeFrame(size));
  EXPECT_EQ(BYTES("\x00\x00\x00\x02" "\x00\x00\x00\x11" "\x00\x00\x00\x00\x00\x00\x00\x09"
                  "\x00\x00\x00\x01" "D" "\x00\x00\x00\x02" "\x00\x00\x00\x02" "A1" "\x00\x00\x00\x00"),
            EncodePayload(ClInitializeTapeMLBMode(2, 17, 9, "D", {"A1", ""})));
}

TEST(GoldenBytesTest, DROutfileAndDriveCleanup) {
  EXPECT_EQ(BYTES("PXM1" "\x01\x31" "\x00\x00" "\x00\x00\x00\x15"
                  "\x00\x00\x00\x02" "\x00\x00\x00\x11" "\x00\x00\x00\x00\x00\x00\x00\x09"
                  "\x00\x00\x00\x01" "O"),
            EncodeFrame(ClProcessOutFileMsg(2, 17, 9, "O")));
  EXPECT_EQ(BYTES("\x00\x00\x00\x02" "\x00\x00\x00\x11" "\x00\x00\x00\x00\x00\x00\x00\x09"
                  "\x00\x00\x00\x01" "D" "\x00\x00\x00\x00"),
            EncodePayload(ClVTLDRCleanupMsg(2, 17, 9, "D", 0)));
}

TEST(GoldenBytesTest, BrowseReply) {
  std::vector<ClClientBrowseRepMsg::ClientBrowseEntry_t> entries(1);
  entries[0].name = "ab";
  entries[0].value = 0x1A4;
  entries[0].size = -2;
  entries[0].type = 1;
  EXPECT_EQ(BYTES("\x00\x00\x00\x01" "\x00\x00\x00\x02" "ab" "\x00\x00\x01\xA4"
                  "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE" "\x00\x00\x00\x01"),
            EncodePayload(ClClientBrowseRepMsg(entries)));
}

TEST(GoldenBytesTest, FailedFile) {
  ClFailedFileMsg msg("f", -2, "no");
  EXPECT_EQ(BYTES("\x00\x00\x00\x01" "f" "\xFF\xFF\xFF\xFE" "\x00\x00\x00\x02" "no"),
            EncodePayload(msg));
}

// Options keep the order of their first setting; a second setting of a name
// replaces the value in place.
TEST(GoldenBytesTest, JobStartWithOptionsAndPath) {
  ClJobStartMsg msg(2, 7, 1, -1, 0x0102030405060708ull);
  msg.setOptionValue("isMLBMode", false);
  msg.setOptionValue("nmStreams", 4);
  msg.setOptionValue("VTLStreams", static_cast<uint32_t>(3));
  msg.setOptionValue("Backup_Save_ActiveWait_Time", static_cast<uint64_t>(600));
  msg.setOptionValue("JO_ClientName", "c1");
  msg.addPath("/a", "/b");
  msg.setOptionValue("nmStreams", -2);
  EXPECT_EQ(BYTES("\x00\x00\x00\x02"                    // Vellicon id
                  "\x00\x00\x00\x07"                    // application id
                  "\x00\x00\x00\x01"                    // backup level
                  "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"    // job start value -1
                  "\x01\x02\x03\x04\x05\x06\x07\x08"    // job id
                  "\x00\x00\x00\x06"                    // entries
                  "\x00\x01" "\x00\x00\x00\x09" "isMLBMode" "\x00\x00"
                  "\x00\x02" "\x00\x00\x00\x09" "nmStreams" "\xFF\xFF\xFF\xFE"
                  "\x00\x03" "\x00\x00\x00\x0A" "VTLStreams" "\x00\x00\x00\x03"
                  "\x00\x04" "\x00\x00\x00\x1B" "Backup_Save_ActiveWait_Time"
                  "\x00\x00\x00\x00\x00\x00\x02\x58"
                  "\x00\x05" "\x00\x00\x00\x0D" "JO_ClientName" "\x00\x00\x00\x02" "c1"
                  "\x00\x06" "\x00\x00\x00\x02" "/a" "\x00\x00\x00\x02" "/b"),
            EncodePayload(msg));
}

TEST(GoldenBytesTest, ScanConfig) {
  ClScanConfigMsg msg({"/a"}, {}, {"x", "y"}, {}, {"/n"}, {{"isCommandFileJob", "0"}});
  EXPECT_EQ(BYTES("\x00\x00\x00\x01" "\x00\x00\x00\x02" "/a"
                  "\x00\x00\x00\x00"
                  "\x00\x00\x00\x02" "\x00\x00\x00\x01" "x" "\x00\x00\x00\x01" "y"
                  "\x00\x00\x00\x00"
                  "\x00\x00\x00\x01" "\x00\x00\x00\x02" "/n"
                  "\x00\x00\x00\x01" "\x00\x00\x00\x10" "isCommandFileJob"
                  "\x00\x00\x00\x01" "0"),
            EncodePayload(msg));
}

// Arguments travel sorted by name.
TEST(GoldenBytesTest, TapeInfoWithArguments) {
  ClTapeInfoMsg msg("T1", "D1");
  msg.setArgument(ClTapeInfoMsg::keyMSGQName, "Q");
  msg.setArgument(ClTapeInfoMsg::keyInitTape, "1");
  EXPECT_EQ(BYTES("\x00\x00\x00\x02" "T1" "\x00\x00\x00\x02" "D1"
                  "\x00\x00\x00\x02"
                  "\x00\x00\x00\x08" "InitTape" "\x00\x00\x00\x01" "1"
                  "\x00\x00\x00\x08" "MSGQName" "\x00\x00\x00\x01" "Q"),
            EncodePayload(msg));
}

// A record's numbers go big-endian field by field: the new configuration's
// 0x400000 at offset 48 and a query port at 44.
TEST(GoldenBytesTest, PrePipelineConfigRecord) {
  _PrePipelineDedupe_Config config;
  config.uQueryPort = 0x1234;
  config.ullFlags = 1;
  COBPrePipelineDedupeInfoRespMsg msg(config);
  std::vector<uint8_t> expected(80, 0);
  expected[39] = 0x01;
  expected[46] = 0x12;
  expected[47] = 0x34;
  expected[49] = 0x40;
  EXPECT_EQ(expected, EncodePayload(msg));
}

TEST(GoldenBytesTest, QueryAndResultListsAtTheirFixedOffsets) {
  _PrePipelineDedupe_Query query;
  query.signature[0] = 0x11;
  query.signature[63] = 0x22;
  query.carried64[3] = 0x33;
  query.uValue68 = 0x01020304;
  query.ullValue72 = 0x0506070809101112ull;
  query.ullValue80 = 0x1314151617181920ull;
  query.uUniqueId = 0x21222324;
  query.carried92[11] = 0x44;
  std::vector<uint8_t> expected = BYTES("\x00\x00\x00\x01");
  std::vector<uint8_t> record(104, 0);
  record[0] = 0x11;
  record[63] = 0x22;
  record[67] = 0x33;
  const std::vector<uint8_t> numbers = BYTES("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x10\x11\x12"
                                             "\x13\x14\x15\x16\x17\x18\x19\x20\x21\x22\x23\x24");
  std::copy(numbers.begin(), numbers.end(), record.begin() + 68);
  record[103] = 0x44;
  expected.insert(expected.end(), record.begin(), record.end());
  EXPECT_EQ(expected, EncodePayload(COBPrePipelineDedupeQueryMsg({query})));

  _PrePipelineDedupe_Result_Resp result;
  result.uUniqueId = 0x01020304;
  result.uIsNew = 1;
  result.uUniqueId2 = 0x05060708;
  result.uZero12 = 9;
  result.ullZero16 = 0x0A0B0C0D0E0F1011ull;
  EXPECT_EQ(BYTES("\x00\x00\x00\x01\x01\x02\x03\x04\x00\x00\x00\x01\x05\x06\x07\x08\x00\x00\x00\x09"
                  "\x0A\x0B\x0C\x0D\x0E\x0F\x10\x11"),
            EncodePayload(COBPrePipelineDedupeResultRespMsg({result})));
}

TEST(GoldenBytesTest, SignatureRecordKeepsCarriedBytesAsTheyAre) {
  _PrePipelineDedupe_Signature signature;
  signature.carried0[0] = 0xAB;
  signature.uUniqueId = 0x01020304;
  signature.carried72[63] = 0xCD;
  ClPipelineSignatureMsg msg(signature);
  std::vector<uint8_t> bytes = EncodePayload(msg);
  ASSERT_EQ(136u, bytes.size());
  EXPECT_EQ(0xAB, bytes[0]);
  EXPECT_EQ(BYTES("\x01\x02\x03\x04"), std::vector<uint8_t>(bytes.begin() + 68, bytes.begin() + 72));
  EXPECT_EQ(0xCD, bytes[135]);
}

}  // namespace

namespace {

// A command for the IBM i daemon is its bytes without a terminating NUL;
// the answers carry no payload.
TEST(GoldenBytesTest, CommandExecution) {
  EXPECT_EQ(BYTES("PXM1" "\x40\x32" "\x00\x00" "\x00\x00\x00\x0C" "DSPLIB KXLIB"),
            EncodeFrame(ClBlobMsg(EXECUTE_COMMAND_MSG, ClBlobMsg::Copy, "DSPLIB KXLIB", 12)));
  EXPECT_EQ(BYTES("PXM1" "\x80\x33" "\x00\x00" "\x00\x00\x00\x00"), EncodeFrame(ClEmptyMsg(EXECUTE_SUCCESS_MSG)));
  EXPECT_EQ(BYTES("PXM1" "\x80\x34" "\x00\x00" "\x00\x00\x00\x00"), EncodeFrame(ClEmptyMsg(EXECUTE_FAILURE_MSG)));
}

}  // namespace
