#include "platform/runtime.h"

#include <gtest/gtest.h>

namespace {

TEST(TextSearch, FindTextEdgeCases) {
  EXPECT_EQ(platform::FindText("abcabc", "c"), 3);
  EXPECT_EQ(platform::FindText("abcabc", "c", 4), 6);
  EXPECT_EQ(platform::FindText("abc", "x"), -1);
  EXPECT_EQ(platform::FindText("abc", ""), 1);   // empty sought in a non-empty text
  EXPECT_EQ(platform::FindText("", ""), -1);
  EXPECT_EQ(platform::FindText("ABC", "b", 1, true), 2);
  EXPECT_EQ(platform::FindText("ABC", "b"), -1);
  EXPECT_EQ(platform::FindText("主页地址=a=b", "="), 13);  // byte positions in UTF-8
}

TEST(TextSearch, FindTextBackward) {
  EXPECT_EQ(platform::FindTextBackward("http://h/a/b.exe", "/"), 11);
  EXPECT_EQ(platform::FindTextBackward("noslash", "/"), -1);
  EXPECT_EQ(platform::FindTextBackward("C:\\x\\y", "\\", -1, true), 5);
  EXPECT_EQ(platform::FindTextBackward("a/b/c", "/", 4), 2);  // must start before the limit
}

TEST(TextSearch, FileNameAfterLastSlash) {
  EXPECT_EQ(platform::TextAfterLastSlash("http://h/dl/login.exe"), "login.exe");
  EXPECT_EQ(platform::TextAfterLastSlash("login.exe"), "login.exe");
  EXPECT_EQ(platform::TextAfterLastSlash("http://h/dl/"), "");
  EXPECT_EQ(platform::TextAfterLastSlash("http://h/a.exe?x=1"), "a.exe?x=1");
}

TEST(TextPieces, SplitKeepsEmptyPieces) {
  auto p = platform::SplitText("a,,b");
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[1], "");
  EXPECT_TRUE(platform::SplitText("").empty());
  EXPECT_EQ(platform::SplitText("a,b,c", ",", 2).size(), 2u);
  auto r = platform::SplitText("1280×1024", "×");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0], "1280");
  EXPECT_EQ(r[1], "1024");
  EXPECT_EQ(platform::SplitText("a\r\n\r\nb", "\r\n").size(), 3u);
}

TEST(TextPieces, LeftRightLower) {
  EXPECT_EQ(platform::LeftText("abc", 5), "abc");
  EXPECT_EQ(platform::LeftText("abc", 0), "");
  EXPECT_EQ(platform::LeftText("abc", -1), "");
  EXPECT_EQ(platform::RightText("abc", 2), "bc");
  EXPECT_EQ(platform::RightText("abc", -3), "");
  EXPECT_EQ(platform::LowerText("D:\\Tarnwick游戏\\ÄB"), "d:\\tarnwick游戏\\Äb");  // ASCII only
}

TEST(Numbers, ToIntegerReadsLeadingNumber) {
  EXPECT_EQ(platform::ToInteger("  -12abc"), -12);
  EXPECT_EQ(platform::ToInteger("abc"), 0);
  EXPECT_EQ(platform::ToInteger("＋１２３"), 123);  // full-width made half-width first
  EXPECT_EQ(platform::ToInteger("　４５"), 45);
  EXPECT_EQ(platform::ToLongInteger("4294967296"), 4294967296LL);
  EXPECT_EQ(platform::ToLongInteger("99999999999999999999"), INT64_MAX);
  EXPECT_EQ(platform::ToInteger("99999999999"), INT32_MAX);
}

TEST(Numbers, TextForms) {
  EXPECT_EQ(platform::FloatToText(0.0f), "0");
  EXPECT_EQ(platform::FloatToText(512.5f), "512.5");
  EXPECT_EQ(platform::FloatToText(1234.5678f), "1234.57");
  EXPECT_EQ(platform::DoubleToText(1.43), "1.43");
  EXPECT_EQ(platform::DoubleToText(1024.0), "1024");
}

TEST(Numbers, RoundToHalfAwayFromZero) {
  EXPECT_EQ(platform::RoundTo(2.5), 3.0);
  EXPECT_EQ(platform::RoundTo(-2.5), -3.0);
  EXPECT_EQ(platform::RoundTo(1.4305114746, 2), 1.43);
  EXPECT_EQ(platform::RoundTo(3.19999980926, 2), 3.2);
  EXPECT_EQ(platform::RoundTo(1234.0, -2), 1200.0);
  EXPECT_EQ(platform::RoundTo(0.4999999999999, 0), 1.0);  // within 1e-12 below a half
}

}  // namespace
