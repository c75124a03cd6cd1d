#include "platform/runtime.h"

#include <gtest/gtest.h>

namespace {

TEST(TextSearch, FindTextEdgeCases) {
  EXPECT_EQ(rt::FindText("abcabc", "c"), 3);
  EXPECT_EQ(rt::FindText("abcabc", "c", 4), 6);
  EXPECT_EQ(rt::FindText("abc", "x"), -1);
  EXPECT_EQ(rt::FindText("abc", ""), 1);   // empty sought in a non-empty text
  EXPECT_EQ(rt::FindText("", ""), -1);
  EXPECT_EQ(rt::FindText("ABC", "b", 1, true), 2);
  EXPECT_EQ(rt::FindText("ABC", "b"), -1);
  EXPECT_EQ(rt::FindText("主页地址=a=b", "="), 13);  // byte positions in UTF-8
}

TEST(TextSearch, FindTextBackward) {
  EXPECT_EQ(rt::FindTextBackward("http://h/a/b.exe", "/"), 11);
  EXPECT_EQ(rt::FindTextBackward("noslash", "/"), -1);
  EXPECT_EQ(rt::FindTextBackward("C:\\x\\y", "\\", -1, true), 5);
  EXPECT_EQ(rt::FindTextBackward("a/b/c", "/", 4), 2);  // must start before the limit
}

TEST(TextSearch, FileNameAfterLastSlash) {
  EXPECT_EQ(rt::TextAfterLastSlash("http://h/dl/login.exe"), "login.exe");
  EXPECT_EQ(rt::TextAfterLastSlash("login.exe"), "login.exe");
  EXPECT_EQ(rt::TextAfterLastSlash("http://h/dl/"), "");
  EXPECT_EQ(rt::TextAfterLastSlash("http://h/a.exe?x=1"), "a.exe?x=1");
}

TEST(TextPieces, SplitKeepsEmptyPieces) {
  auto p = rt::SplitText("a,,b");
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[1], "");
  EXPECT_TRUE(rt::SplitText("").empty());
  EXPECT_EQ(rt::SplitText("a,b,c", ",", 2).size(), 2u);
  auto r = rt::SplitText("1280×1024", "×");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0], "1280");
  EXPECT_EQ(r[1], "1024");
  EXPECT_EQ(rt::SplitText("a\r\n\r\nb", "\r\n").size(), 3u);
}

TEST(TextPieces, LeftRightLower) {
  EXPECT_EQ(rt::LeftText("abc", 5), "abc");
  EXPECT_EQ(rt::LeftText("abc", 0), "");
  EXPECT_EQ(rt::LeftText("abc", -1), "");
  EXPECT_EQ(rt::RightText("abc", 2), "bc");
  EXPECT_EQ(rt::RightText("abc", -3), "");
  EXPECT_EQ(rt::LowerText("D:\\Tarnwick游戏\\ÄB"), "d:\\tarnwick游戏\\Äb");  // ASCII only
}

TEST(Numbers, ToIntegerReadsLeadingNumber) {
  EXPECT_EQ(rt::ToInteger("  -12abc"), -12);
  EXPECT_EQ(rt::ToInteger("abc"), 0);
  EXPECT_EQ(rt::ToInteger("＋１２３"), 123);  // full-width made half-width first
  EXPECT_EQ(rt::ToInteger("　４５"), 45);
  EXPECT_EQ(rt::ToLongInteger("4294967296"), 4294967296LL);
  EXPECT_EQ(rt::ToLongInteger("99999999999999999999"), INT64_MAX);
  EXPECT_EQ(rt::ToInteger("99999999999"), INT32_MAX);
}

TEST(Numbers, TextForms) {
  EXPECT_EQ(rt::FloatToText(0.0f), "0");
  EXPECT_EQ(rt::FloatToText(512.5f), "512.5");
  EXPECT_EQ(rt::FloatToText(1234.5678f), "1234.57");
  EXPECT_EQ(rt::DoubleToText(1.43), "1.43");
  EXPECT_EQ(rt::DoubleToText(1024.0), "1024");
}

TEST(Numbers, RoundToHalfAwayFromZero) {
  EXPECT_EQ(rt::RoundTo(2.5), 3.0);
  EXPECT_EQ(rt::RoundTo(-2.5), -3.0);
  EXPECT_EQ(rt::RoundTo(1.4305114746, 2), 1.43);
  EXPECT_EQ(rt::RoundTo(3.19999980926, 2), 3.2);
  EXPECT_EQ(rt::RoundTo(1234.0, -2), 1200.0);
  EXPECT_EQ(rt::RoundTo(0.4999999999999, 0), 1.0);  // within 1e-12 below a half
}

}  // namespace
