// SHA-256 from the system against known digests: incremental, in odd pieces
// and across the file hash's read buffer.
#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fs.h"
#include "support/download_support.h"
#include "support/temp_dir.h"

namespace {

std::string HexOf(std::string_view bytes, std::size_t piece) {
  platform::Sha256 sha;
  EXPECT_TRUE(sha.ok());
  for (std::size_t i = 0; i < bytes.size(); i += piece) sha.Update(bytes.substr(i, piece));
  platform::Sha256Digest d{};
  EXPECT_TRUE(sha.Final(d));
  return platform::DigestToHex(d);
}

TEST(Sha256, KnownDigestsWholeAndInPieces) {
  struct Row {
    std::string bytes;
    const char* hex;
  };
  const Row rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Row& r : rows) {
    for (std::size_t piece : {std::size_t{1} << 30, std::size_t{1}, std::size_t{63}, std::size_t{65537}}) {
      if (piece == 1 && r.bytes.size() > 100000) continue;
      EXPECT_EQ(HexOf(r.bytes, piece), r.hex) << r.bytes.size() << " bytes in pieces of " << piece;
    }
  }
}

TEST(Sha256, ASpentHashGivesNoSecondDigest) {
  platform::Sha256 sha;
  sha.Update("abc");
  platform::Sha256Digest d{};
  ASSERT_TRUE(sha.Final(d));
  EXPECT_FALSE(sha.Final(d));
  EXPECT_FALSE(sha.ok());
}

TEST(Sha256, FileInOnePassAcrossTheReadBuffer) {
  testing_support::TempDir dir;
  // The servers' counter pattern, 1 MiB + 123 bytes: the last read is short.
  std::string bytes = testing_support::CounterPattern((1u << 20) + 123);
  std::string path = dir.path() + "\\big.bin";
  ASSERT_TRUE(platform::WriteFileBytes(path, bytes));
  platform::Sha256Digest d{};
  std::uint64_t hashed = 0, lastSeen = 0;
  int calls = 0;
  auto progress = [&](std::uint64_t n) {
    EXPECT_GE(n, lastSeen);
    lastSeen = n;
    ++calls;
    return true;
  };
  ASSERT_EQ(platform::HashFile(path, d, progress, &hashed), platform::HashFileResult::Ok);
  EXPECT_EQ(platform::DigestToHex(d), "d7fe121f25060159e32154e98045b261af6510d85360c80e0e56eba6cf2ead84");
  EXPECT_EQ(hashed, bytes.size());
  EXPECT_GE(calls, 2);
  EXPECT_EQ(HexOf(bytes, 4099), platform::DigestToHex(d));

  std::string empty = dir.path() + "\\empty.bin";
  ASSERT_TRUE(platform::WriteFileBytes(empty, std::string_view()));
  ASSERT_EQ(platform::HashFile(empty, d), platform::HashFileResult::Ok);
  EXPECT_EQ(platform::DigestToHex(d), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

  // A stop request ends the pass with no digest; a missing file cannot open.
  int asked = 0;
  EXPECT_EQ(platform::HashFile(path, d, [&](std::uint64_t n) { return ++asked < 2; }),
            platform::HashFileResult::Stopped);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(platform::HashFile(dir.path() + "\\none.bin", d), platform::HashFileResult::CannotOpen);
}

TEST(Sha256, HexBothWays) {
  auto d = platform::DigestFromHex("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
  ASSERT_TRUE(d);
  EXPECT_EQ(platform::DigestToHex(*d), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  for (const char* bad : {"", "ba7816bf", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015a",
                          "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad0",
                          "ga7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                          " a7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"})
    EXPECT_FALSE(platform::DigestFromHex(bad)) << bad;
}

}  // namespace
