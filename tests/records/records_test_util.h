// Helpers shared by the client file-record tests: literal golden bytes, a
// log writer that captures lines, and draining a list into plain values.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "ClClientFileRecord.h"
#include "ClClientFileRecordSerializer.h"
#include "FXLogWriter.h"

using Bytes = std::vector<uint8_t>;

// Literal golden bytes: BYTES("\xBE\xEF" "ab") keeps embedded NULs.
#define BYTES(literal) Bytes(literal, literal + sizeof(literal) - 1)

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
  return Bytes(bytes.begin() + from, bytes.begin() + to);
}

inline char* Chars(Bytes& bytes) { return reinterpret_cast<char*>(bytes.data()); }
inline uint32_t Size(const Bytes& bytes) { return static_cast<uint32_t>(bytes.size()); }

// What a record hands out through the base getData.
inline Bytes DataOf(ClClientFileRecord& record) {
  char* d = nullptr;
  uint16_t dSize = 0;
  EXPECT_EQ(0, record.getData(d, dSize));
  return d ? Bytes(reinterpret_cast<uint8_t*>(d), reinterpret_cast<uint8_t*>(d) + dSize)
           : Bytes();
}

// Takes every record out of the list, in order.
inline std::vector<std::unique_ptr<ClClientFileRecord>> Drain(
    ClClientFileRecordSerializer& list) {
  std::vector<std::unique_ptr<ClClientFileRecord>> out;
  ClClientFileRecord* record = nullptr;
  while (list.fetchRecord(record) == 0) {
    out.emplace_back(record);
    record = nullptr;
  }
  return out;
}

// Replaces the process-wide writer with a quiet one that keeps every line,
// at level 5 with the file-record category, and puts the old one back.
class LogCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_saved = g_ptrLogWriter;
    g_ptrLogWriter.reset(new FXLogWriter);
    g_ptrLogWriter->SetQuiet(true);
    g_ptrLogWriter->SetCapture(true);
    g_ptrLogWriter->SetLevel(5);
    g_ptrLogWriter->SetCategoryMask(FX_LOG_CATEGORY_FILE_RECORD);
  }
  void TearDown() override { g_ptrLogWriter = m_saved; }

  bool Logged(const std::string& fragment) const {
    return g_ptrLogWriter->HasCapturedLine(fragment);
  }

 private:
  boost::shared_ptr<FXLogWriter> m_saved;
};
