// The answer store against a plain model: random stores and takes, ids
// repeated and ids never stored, through growth, removal from the middle of
// probe runs and the release of an emptied slab.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <random>

#include "KXOpenBackupServices/DedupeAnswerStore.h"

namespace {

_SignatureRespParam Answer(uint32_t id, uint32_t serial) {
  _SignatureRespParam answer;
  answer.response.uUniqueId = id;
  answer.response.uCarried216 = serial;  // tells answers of one id apart
  return answer;
}

TEST(DedupeAnswerStoreTest, AgreesWithAModel) {
  struct Phase {
    const char* name;
    uint32_t idRange;  // ids drawn from [0, idRange)
    int steps;
    int storePercent;  // the share of steps that store
  };
  const Phase phases[] = {
      {"few ids, many repeats", 16, 4000, 50},
      {"growing past several index sizes", 200000, 60000, 80},
      {"draining, ids never stored among them", 400000, 120000, 30},
      {"filling again after the release", 1000, 20000, 60},
  };
  std::mt19937 random(7);
  DedupeAnswerStore store;
  std::map<uint32_t, std::deque<uint32_t>> model;
  size_t modelSize = 0;
  uint32_t serial = 0;
  for (const Phase& phase : phases) {
    SCOPED_TRACE(phase.name);
    for (int step = 0; step < phase.steps; ++step) {
      const uint32_t id = random() % phase.idRange;
      if (static_cast<int>(random() % 100) < phase.storePercent) {
        store.Add(Answer(id, ++serial));
        model[id].push_back(serial);
        ++modelSize;
      } else {
        SIDBQueryAndInsertSignaturesResponseParam answer;
        auto found = model.find(id);
        const bool expected = found != model.end();
        ASSERT_EQ(expected, store.Take(id, answer)) << "id " << id << " step " << step;
        if (!expected) continue;
        ASSERT_EQ(id, answer.uUniqueId);
        ASSERT_EQ(found->second.front(), answer.uCarried216) << "id " << id;
        found->second.pop_front();
        if (found->second.empty()) model.erase(found);
        --modelSize;
      }
      ASSERT_EQ(modelSize, store.Size());
    }
    if (phase.storePercent < 50) {
      // Take the rest out: the store ends empty.
      for (auto& entry : model) {
        for (uint32_t expectedSerial : entry.second) {
          SIDBQueryAndInsertSignaturesResponseParam answer;
          ASSERT_TRUE(store.Take(entry.first, answer));
          ASSERT_EQ(expectedSerial, answer.uCarried216);
        }
      }
      model.clear();
      modelSize = 0;
      EXPECT_EQ(0u, store.Size());
    }
  }
}

}  // namespace
