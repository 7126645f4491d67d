// The host layer: byte strings, components and ownership, method pointers, the random generator.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <set>
#include <thread>

#include "host/core/Classes.h"
#include "host/core/Random.h"
#include "host/core/SysUtils.h"
#include "support/ScriptedRandom.h"

using System::AnsiString;

TEST(AnsiString, HoldsZeroBytesAndCountsLength) {
  const char raw[] = {'a', '\0', 'b', '\0'};
  AnsiString s(raw, 4);
  EXPECT_EQ(s.Length(), 4);
  EXPECT_EQ(s[2], '\0');
  EXPECT_EQ(s[3], 'b');
  AnsiString t = s + AnsiString('\0');
  EXPECT_EQ(t.Length(), 5);
  EXPECT_NE(s, t);
  t.SetLength(2);
  EXPECT_EQ(t, AnsiString(raw, 2));
  t.SetLength(3);
  EXPECT_EQ(t[3], '\0');
  EXPECT_EQ(AnsiString(std::string("x\0y", 3)).Length(), 3);
}

TEST(AnsiString, PosAndSubStringAreOneBased) {
  const AnsiString s = "abc:def:g";
  EXPECT_EQ(s.Pos(":"), 4);
  EXPECT_EQ(AnsiString("abc").Pos(":"), 0);
  EXPECT_EQ(s.SubString(1, 3), "abc");
  EXPECT_EQ(s.SubString(5, 100), "def:g");
  EXPECT_EQ(s.SubString(5, 0), "");
  EXPECT_EQ(s.SubString(5, -3), "");
  EXPECT_EQ(s.SubString(20, 2), "");
  EXPECT_LT(AnsiString("a"), AnsiString("b"));
}

// Lengths are computed in 64 bits and pass CheckedLength before a string is sized, so a length beyond
// an int is refused instead of wrapping to a small or negative size.
TEST(AnsiString, LengthsBeyondAnIntAreRefused) {
  const std::uint64_t limit = AnsiString::MaxLength;
  EXPECT_EQ(limit, std::uint64_t(INT_MAX));
  EXPECT_EQ(AnsiString::CheckedLength(0), 0);
  EXPECT_EQ(AnsiString::CheckedLength(limit), INT_MAX);
  for (const std::uint64_t tooLong : {limit + 1, std::uint64_t(UINT32_MAX), std::uint64_t(1) << 32,
                                      (std::uint64_t(1) << 32) + 5, UINT64_MAX})
    EXPECT_THROW(AnsiString::CheckedLength(tooLong), Sysutils::ERangeError) << tooLong;
}

TEST(AnsiString, SubStringClipsRangesAtTheEndsOfTheIntRange) {
  const AnsiString s = "abcdef";
  EXPECT_EQ(s.SubString(INT_MIN, INT_MAX), "");
  EXPECT_EQ(s.SubString(-2, 5), "ab");
  EXPECT_EQ(s.SubString(2, INT_MAX), "bcdef");
  EXPECT_EQ(s.SubString(INT_MAX, INT_MAX), "");
  EXPECT_EQ(s.SubString(-INT_MAX, INT_MAX), "");
}

TEST(Exceptions, CarryTheirMessage) {
  try {
    throw Sysutils::EConvertError("bad text");
  } catch (const Sysutils::Exception& e) {
    EXPECT_STREQ(e.what(), "bad text");
    EXPECT_EQ(e.Message(), "bad text");
  }
}

namespace {
int gDestroyed = 0;
struct Probe : Classes::TComponent {
  using TComponent::TComponent;
  ~Probe() override { ++gDestroyed; }
};
}  // namespace

TEST(TComponent, OwnerDestroysOwnedAndEarlyDestructionLeavesTheList) {
  gDestroyed = 0;
  auto* owner = new Classes::TComponent(nullptr);
  auto* a = new Probe(owner);
  auto* b = new Probe(owner);
  a->SetName("A");
  b->SetName("B");
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(owner->FindComponent("B"), b);
  EXPECT_EQ(a->Owner(), owner);
  delete a;  // leaves the owner's list
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(owner->FindComponent("A"), nullptr);
  delete owner;  // destroys b
  EXPECT_EQ(gDestroyed, 2);
}

namespace {
struct Listener {
  int Calls = 0;
  System::TObject* Last = nullptr;
  void Handle(System::TObject* sender) {
    ++Calls;
    Last = sender;
  }
};
}  // namespace

TEST(TNotifyEvent, BindsMembersLambdasAndCountsAsAssignedByCode) {
  Classes::TNotifyEvent none;
  EXPECT_FALSE(none.Assigned());
  Listener l;
  Classes::TNotifyEvent member(&l, &Listener::Handle);
  ASSERT_TRUE(member.Assigned());
  EXPECT_EQ(member.Object(), &l);
  Classes::TComponent c(nullptr);
  member(&c);
  EXPECT_EQ(l.Calls, 1);
  EXPECT_EQ(l.Last, &c);
  int hits = 0;
  Classes::TNotifyEvent lambda = [&hits](System::TObject*) { ++hits; };
  lambda(nullptr);
  EXPECT_EQ(hits, 1);
  // A root publishes named handlers; looking one up gives it with its name.
  c.PublishMethod("ListenerHandle", member);
  EXPECT_EQ(c.MethodAddress("ListenerHandle").Name(), "ListenerHandle");
  EXPECT_FALSE(c.MethodAddress("Nope").Assigned());
}

TEST(Random, ByteRangeAndFullWords) {
  std::set<std::uint32_t> bytes;
  bool highBitSeen = false;
  for (int i = 0; i < 4000; ++i) {
    const std::uint32_t b = System::RandInt(256);
    ASSERT_LT(b, 256u);
    bytes.insert(b);
    highBitSeen |= (System::RandInt(-1) >> 31) != 0;
  }
  EXPECT_GT(bytes.size(), 240u);  // practically all 256 values appear in 4000 draws
  EXPECT_TRUE(highBitSeen);
  for (int i = 0; i < 1000; ++i) ASSERT_LT(System::RandInt(7), 7u);
  System::Randomize();
  EXPECT_NE(System::RandInt(-1) | System::RandInt(-1) | System::RandInt(-1), 0u);
}

TEST(Random, ScriptedSourceCountsDrawsAndIsRestored) {
  {
    Testing::ScriptedRandom scripted({0x1234'56ffu, 7});
    EXPECT_EQ(System::RandInt(256), 0xffu);
    EXPECT_EQ(System::RandInt(-1), 7u);
    System::Randomize();
    EXPECT_EQ(scripted.Draws, 2);
    EXPECT_EQ(scripted.ByteDraws, 1);
    EXPECT_EQ(scripted.WordDraws, 1);
    EXPECT_EQ(scripted.RandomizeCalls, 1);
  }
  // The system source is back: its words are not the scripted counter.
  std::set<std::uint32_t> words;
  for (int i = 0; i < 8; ++i) words.insert(System::RandInt(-1));
  EXPECT_GT(words.size(), 6u);
}

// Padding draws come many bytes at a time: runs longer than the pool are filled from refills, every
// byte value shows up, and with a scripted source the draws are those of one RandInt(256) per byte.
TEST(Random, ByteRunsSpanRefillsAndFollowAScript) {
  std::vector<unsigned char> run(10000, 0);
  System::RandBytes(run.data(), run.size());
  std::set<unsigned char> values(run.begin(), run.end());
  EXPECT_EQ(values.size(), 256u);
  for (std::size_t at = 0; at + 64 <= run.size(); at += 64)  // no stretch left unfilled
    EXPECT_NE(std::count(run.begin() + long(at), run.begin() + long(at + 64), 0), 64) << at;
  Testing::ScriptedRandom scripted({0x1234'5601u, 0xabcdef02u, 3});
  unsigned char three[3];
  System::RandBytes(three, 3);
  EXPECT_EQ(three[0], 0x01);
  EXPECT_EQ(three[1], 0x02);
  EXPECT_EQ(three[2], 0x03);
  EXPECT_EQ(scripted.ByteDraws, 3);
}

TEST(Random, ThreadsNeverShareDraws) {
  constexpr int Threads = 4, Draws = 20000;
  std::vector<std::vector<std::uint32_t>> seen(Threads);
  std::vector<std::thread> workers;
  for (int t = 0; t < Threads; ++t)
    workers.emplace_back([&seen, t] {
      for (int i = 0; i < Draws; ++i) seen[t].push_back(System::RandInt(-1));
    });
  for (auto& w : workers) w.join();
  std::set<std::uint32_t> all;
  for (auto& v : seen) all.insert(v.begin(), v.end());
  // 80000 random 32-bit words: a repeat or two by chance is possible, many would mean shared bytes.
  EXPECT_GT(all.size(), std::size_t(Threads * Draws - 10));
}

// A forked child must not draw the bytes its parent buffered before the fork: both would otherwise
// produce the same "random" padding. The parent draws first so that its pool is full at the fork.
TEST(Random, AForkedChildNeverDrawsItsParentsBufferedBytes) {
  System::RandInt(-1);
  constexpr int Words = 16;
  int channel[2];
  ASSERT_EQ(pipe(channel), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::uint32_t words[Words];
    for (std::uint32_t& w : words) w = System::RandInt(-1);
    const bool written = write(channel[1], words, sizeof words) == ssize_t(sizeof words);
    _exit(written ? 0 : 1);
  }
  close(channel[1]);
  std::uint32_t childWords[Words];
  std::size_t got = 0;
  while (got < sizeof childWords) {
    const ssize_t n = read(channel[0], reinterpret_cast<char*>(childWords) + got, sizeof childWords - got);
    if (n <= 0) break;
    got += std::size_t(n);
  }
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(got, sizeof childWords);

  std::set<std::uint32_t> parentWords;
  for (int i = 0; i < Words; ++i) parentWords.insert(System::RandInt(-1));
  int shared = 0;
  for (const std::uint32_t w : childWords) shared += int(parentWords.count(w));
  EXPECT_EQ(shared, 0) << "the child drew words its parent also drew";
}
