#include "package/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Hex(const std::uint8_t* digest) {
    std::string out;
    char buffer[3];
    for (std::size_t i = 0; i < md5::DIGEST_SIZE; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", digest[i]);
        out += buffer;
    }
    return out;
}

std::string HexOf(const std::string& text) {
    std::uint8_t digest[md5::DIGEST_SIZE];
    md5::Digest(text.data(), text.size(), digest);
    return Hex(digest);
}

TEST(Md5, MatchesTheReferenceTestSuite) {
    EXPECT_EQ(HexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(HexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(HexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(HexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(HexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(HexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(HexOf("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

// Padding takes a second block when 56 or more bytes are left over: lengths around the
// block size are where a padding fault shows.
TEST(Md5, PaddingAtBlockBoundaries) {
    EXPECT_EQ(HexOf(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(HexOf(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(HexOf(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(HexOf(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(HexOf(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
    EXPECT_EQ(HexOf(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, PiecewiseUpdatesGiveTheOneShotDigest) {
    std::vector<std::uint8_t> data(300);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::uint8_t expected[md5::DIGEST_SIZE];
    md5::Digest(data.data(), data.size(), expected);
    for (std::size_t split = 0; split <= data.size(); ++split) {
        for (std::size_t split2 = split; split2 <= data.size(); split2 += 29) {
            md5::CMd5 md5;
            md5.Update(data.data(), split);
            md5.Update(data.data() + split, split2 - split);
            md5.Update(data.data() + split2, data.size() - split2);
            std::uint8_t digest[md5::DIGEST_SIZE];
            md5.Final(digest);
            ASSERT_EQ(Hex(digest), Hex(expected)) << "split at " << split << " and " << split2;
        }
    }
}

TEST(Md5, ResetStartsAnew) {
    md5::CMd5 md5;
    md5.Update("something else", 14);
    md5.Reset();
    md5.Update("abc", 3);
    std::uint8_t digest[md5::DIGEST_SIZE];
    md5.Final(digest);
    EXPECT_EQ(Hex(digest), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
