#include "SignatureQuery.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_set>

#include "KXJobPerfManager.h"

namespace {

const size_t kKeptAnswers = 4096;

// Lock order: g_mutex, then a module's own lock, then g_storeMutex.
std::mutex g_mutex;  // the script and the module list
SignatureQueryScript g_script;
struct SignatureKey {
  uint8_t bytes[64];
  bool operator==(const SignatureKey& other) const { return std::memcmp(bytes, other.bytes, 64) == 0; }
};
struct SignatureHash {
  size_t operator()(const SignatureKey& key) const {
    uint64_t hash = 14695981039346656037ull;
    for (size_t at = 0; at < sizeof key.bytes; at += 8) {
      uint64_t word;
      std::memcpy(&word, key.bytes + at, 8);
      hash = (hash ^ word) * 1099511628211ull;
      hash ^= hash >> 29;
    }
    return static_cast<size_t>(hash);
  }
};
std::mutex g_storeMutex;
std::unordered_set<SignatureKey, SignatureHash> g_store;
std::atomic<int> g_live(0);
std::atomic<int> g_made(0);
std::atomic<int> g_usesAfterShutdown(0);
std::atomic<int> g_waiting(0);
std::atomic<int64_t> g_busyNanoseconds(0);

// Adds the time from its making to its end to g_busyNanoseconds.
class BusyTimer {
 public:
  BusyTimer() : m_start(std::chrono::steady_clock::now()) {}
  ~BusyTimer() {
    g_busyNanoseconds += std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - m_start)
                             .count();
  }

 private:
  std::chrono::steady_clock::time_point m_start;
};

class ScriptedSignatureQuery;
std::set<ScriptedSignatureQuery*> g_modules;

// Looks the signature up and adds it when new; true when found. The caller
// holds g_storeMutex.
bool LookUpAndInsert(const uint8_t (&signature)[64]) {
  SignatureKey key;
  std::memcpy(key.bytes, signature, sizeof key.bytes);
  return !g_store.insert(key).second;
}

class ScriptedSignatureQuery : public ISignatureQuery {
 public:
  explicit ScriptedSignatureQuery(const SignatureQueryScript& script)
      : m_script(script), m_bInit(false), m_bShutdown(false), m_bRelease(false), m_uQueries(0), m_uFound(0) {
    ++g_live;
    ++g_made;
  }

  ~ScriptedSignatureQuery() override {
    stopWorker();
    --g_live;
  }

  int init(const _stSQueryInitParameters& params) override {
    if (m_script.failInit) return 5;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bShutdown) return noteLateUse();
    if (!m_bInit) {
      m_bInit = true;
      m_worker = std::thread(&ScriptedSignatureQuery::work, this);
    }
    return 0;
  }

  void shutdown() override { stopWorker(); }

  int QuerySignaturesAsync(const std::vector<SIDBQueryAndInsertSignaturesRequestParam>& requests) override {
    BusyTimer busy;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bShutdown) return noteLateUse();
    if (!m_bInit) return 2;
    if (m_script.failQuery) return 7;
    const size_t held = std::min<size_t>(m_script.heldBack, requests.size());
    std::lock_guard<std::mutex> storeLock(g_storeMutex);
    for (size_t i = 0; i < requests.size(); ++i) {
      _SignatureRespParam answer;
      answer.response.uUniqueId = requests[i].uUniqueId;
      answer.response.primary = requests[i].primary;
      answer.response.uFound = LookUpAndInsert(requests[i].primary.signature) ? 1 : 0;
      ++m_uQueries;
      if (answer.response.uFound) ++m_uFound;
      const bool repeat = m_script.repeatFirst && i == 0;
      std::vector<_SignatureRespParam>& into = i + held >= requests.size() ? m_held : m_ready;
      into.push_back(answer);
      if (repeat) {
        // The repeat is told apart by its carried word at offset 216.
        answer.response.uCarried216 = 1;
        into.push_back(answer);
      }
    }
    return 0;
  }

  int GetQuerySignaturesResponse(std::vector<_SignatureRespParam>& answers, bool waitForAll) override {
    BusyTimer busy;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_bShutdown) return noteLateUse();
    if (!m_bInit) return 2;
    if (m_script.failResponse) return 9;
    if (waitForAll && !m_held.empty()) {
      if (!m_script.holdUntilReleased) m_bRelease = true;
      m_changed.notify_all();
      ++g_waiting;
      m_changed.wait(lock, [this] { return m_held.empty() || m_bShutdown; });
      --g_waiting;
      if (m_bShutdown) return noteLateUse();
    }
    const size_t drop = waitForAll ? std::min<size_t>(m_script.dropOnWait, m_ready.size()) : 0;
    m_ready.resize(m_ready.size() - drop);
    answers.insert(answers.end(), m_ready.begin(), m_ready.end());
    m_ready.clear();
    // Kept for the next batch unless a large one grew it.
    if (m_ready.capacity() > kKeptAnswers) std::vector<_SignatureRespParam>().swap(m_ready);
    return 0;
  }

  int GetTagData(const SIDBQueryAndInsertSignaturesResponseParam* answer,
                 SIDBQueryAndInsertSignaturesResponseParam* tag) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bShutdown) return noteLateUse();
    if (!answer || !tag) return 1;
    *tag = *answer;
    // The store's own part of the tag: where the signature lives.
    tag->secondary.uCarried[0] = 1;
    tag->secondary.ullCarried[0] = answer->uUniqueId;
    return 0;
  }

  int UpdatePerfCounters(_JobPerfCounterCollection* collection, uint32_t group) override {
    uint64_t queries = 0, found = 0;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_bShutdown) return noteLateUse();
      queries = m_uQueries;
      found = m_uFound;
    }
    const char* names[2] = {"Signatures queried", "Signatures found"};
    const uint64_t values[2] = {queries, found};
    for (int i = 0; i < 2; ++i) {
      _JobPerfCounter counter;
      counter.uKind = 10002;
      counter.uGroup = group;
      std::memcpy(counter.name, names[i], std::strlen(names[i]));
      counter.ullValue = values[i];
      KXJobPerfManager::ConvertToNBO(counter);
      KXJobPerfManager::UpdateCounter(collection, &counter);
    }
    return 0;
  }

  void releaseHeld() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bRelease = true;
    m_changed.notify_all();
  }

 private:
  int noteLateUse() {
    ++g_usesAfterShutdown;
    return 3;
  }

  void stopWorker() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_bShutdown = true;
      m_changed.notify_all();
    }
    if (m_worker.joinable()) m_worker.join();
  }

  // Posts held answers whenever asked to.
  void work() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      m_changed.wait(lock, [this] { return m_bRelease || m_bShutdown; });
      if (m_bShutdown) return;
      m_bRelease = false;
      m_ready.insert(m_ready.end(), m_held.begin(), m_held.end());
      m_held.clear();
      m_changed.notify_all();
    }
  }

  const SignatureQueryScript m_script;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::thread m_worker;
  bool m_bInit;
  bool m_bShutdown;
  bool m_bRelease;
  std::vector<_SignatureRespParam> m_ready;  // kept allocated between batches
  std::vector<_SignatureRespParam> m_held;
  uint64_t m_uQueries;
  uint64_t m_uFound;
};

}  // namespace

ISignatureQuery* GetSignatureQuery() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_script.failMake) return nullptr;
  ScriptedSignatureQuery* module = new ScriptedSignatureQuery(g_script);
  g_modules.insert(module);
  return module;
}

void FreeSignatureQuery(ISignatureQuery* module) {
  if (!module) return;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_modules.erase(static_cast<ScriptedSignatureQuery*>(module));
  }
  delete module;
}

void SignatureQueryScript::Set(const SignatureQueryScript& script) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_script = script;
}

void SignatureQueryScript::Reset() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_script = SignatureQueryScript();
  std::lock_guard<std::mutex> storeLock(g_storeMutex);
  g_store.clear();
  g_made = 0;
  g_usesAfterShutdown = 0;
  g_busyNanoseconds = 0;
}

SignatureQueryScript SignatureQueryScript::Get() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_script;
}

void SignatureQueryScript::ReleaseHeld() {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (ScriptedSignatureQuery* module : g_modules) module->releaseHeld();
}

double SignatureQueryScript::BusySeconds() { return static_cast<double>(g_busyNanoseconds.load()) / 1e9; }

int SignatureQueryScript::LiveModules() { return g_live.load(); }
int SignatureQueryScript::ModulesMade() { return g_made.load(); }
int SignatureQueryScript::UsesAfterShutdown() { return g_usesAfterShutdown.load(); }
int SignatureQueryScript::Waiting() { return g_waiting.load(); }

size_t SignatureQueryScript::StoredSignatures() {
  std::lock_guard<std::mutex> lock(g_storeMutex);
  return g_store.size();
}
