// Handing a blob's bytes out of the message: the malloc'd block a message
// took over goes out as it is; every other form is copied into one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "ClBasicMsgs.h"

namespace {

TEST(BlobHandOutTest, TakenOverBlockGoesOutWithoutACopy) {
  ClMallocBlock block = ClMallocBlockOf(5);
  std::memcpy(block.get(), "abcde", 5);
  uint8_t* const address = block.get();
  ClBlobMsg msg(FILE_DATA_MSG, std::move(block), 5);
  char* bytes = nullptr;
  uint32_t length = 0;
  ASSERT_FALSE(msg.handOut(bytes, length).IsError());
  EXPECT_EQ(reinterpret_cast<char*>(address), bytes);
  EXPECT_EQ(5u, length);
  EXPECT_EQ(0, std::memcmp(bytes, "abcde", 5));
  EXPECT_EQ(0u, msg.getBlobSize());
  // A second hand-out finds nothing.
  char* again = reinterpret_cast<char*>(1);
  ASSERT_FALSE(msg.handOut(again, length).IsError());
  EXPECT_EQ(nullptr, again);
  EXPECT_EQ(0u, length);
  std::free(bytes);
}

TEST(BlobHandOutTest, OtherFormsAreCopied) {
  const char text[] = "xyz";
  ClBlobMsg copied(FILE_DATA_MSG, ClBlobMsg::Copy, text, 3);
  ClBlobMsg borrowed(FILE_DATA_MSG, ClBlobMsg::Borrow, text, 3);
  ClBlobMsg empty(FILE_DATA_MSG, ClBlobMsg::Copy, nullptr, 0);
  for (ClBlobMsg* msg : {&copied, &borrowed}) {
    char* bytes = nullptr;
    uint32_t length = 0;
    ASSERT_FALSE(msg->handOut(bytes, length).IsError());
    ASSERT_NE(nullptr, bytes);
    EXPECT_NE(text, bytes);
    EXPECT_EQ(3u, length);
    EXPECT_EQ(0, std::memcmp(bytes, text, 3));
    std::free(bytes);
  }
  char* bytes = reinterpret_cast<char*>(1);
  uint32_t length = 9;
  ASSERT_FALSE(empty.handOut(bytes, length).IsError());
  EXPECT_EQ(nullptr, bytes);
  EXPECT_EQ(0u, length);
}

}  // namespace
