#include <gtest/gtest.h>

#include <string>

#include "support/download_support.h"
#include "ui/navigation.h"

namespace {

using ui::Navigation;
constexpr Navigation S = Navigation::Stay, B = Navigation::Shell, R = Navigation::Refuse;

struct Case {
  const char* address;
  Navigation want;
};

constexpr char kPanel[] = "http://news.good.com/notice/index.html";

TEST(NavigationPolicy, HostileAndOrdinaryAddresses) {
  const Case cases[] = {
      // the announcement itself and its host stay, whatever the case and scheme
      {"http://news.good.com/notice/index.html", S},
      {"http://news.good.com/notice/2.html?x=1#top", S},
      {"https://news.good.com/", S},
      {"HTTP://NEWS.GOOD.COM/other", S},
      {"hTtPs://News.Good.Com", S},
      {"http://news.good.com./x", S},        // one trailing dot: the same host
      {"http://news.good.com:8080/x", S},    // another port of the same host
      {"http://news.good.com/..\\..\\x", S},  // backslashes in the path stay on the host
      {"about:blank", S},
      {"ABOUT:BLANK", S},
      {"javascript:void(0)", S},            // the page's own script in its own frame
      // other web pages go to the player's browser
      {"http://www.other.com/", B},
      {"https://good.com/", B},               // the parent domain is another host
      {"http://news.good.com.evil.com/", B},
      {"http://evilnews.good.com/", B},
      {"http://xn--gd-9kaa.com/", B},         // punycode is a host like any other
      {"http://новости.рф/", B},              // so is an international name
      {"http://nеws.good.com/", B},           // a Cyrillic "е": never the panel's host
      {"http://127.0.0.1:8080/", B},
      {"http://[::1]:8080/", B},
      {"http://2130706433/", B},
      {"mailto:service@good.com", B},
      {"MAILTO:service@good.com", B},
      // refused: user info, escapes and backslashes in the authority
      {"http://news.good.com@evil.com/", R},
      {"http://news.good.com:80@evil.com/", R},
      {"http://user:pw@news.good.com/", R},
      {"http://evil.com%2f@news.good.com/", R},
      {"http://news.good.com%2f.evil.com/", R},
      {"http://news%2egood%2ecom/", R},
      {"http://news.good.com\\@evil.com/", R},
      {"http:\\\\evil.com\\", R},
      {"http:/evil.com/", R},
      {"http:evil.com", R},
      {"http://", R},
      {"http:///x", R},
      // bad ports and empty labels
      {"http://news.good.com:0/", R},
      {"http://news.good.com:65536/", R},
      {"http://news.good.com:99999999/", R},
      {"http://news.good.com:/", R},
      {"http://news.good.com:8o/", R},
      {"http://news.good.com../", R},
      {"http://.news.good.com/", R},
      {"http://news..good.com/", R},
      {"http://[::1/", R},
      {"http://[evil.com]/", R},
      {"http://news.good.com evil.com/", R},
      {"http://news.good.com\t/", R},
      {"http://news.good.com\r\n/", R},
      {" http://news.good.com/", R},
      // other schemes and local things
      {"", R},
      {"file:///C:/windows/win.ini", R},
      {"FILE://server/share/x.html", R},
      {"C:\\windows\\win.ini", R},
      {"c:/windows/win.ini", R},
      {"\\\\server\\share\\notice.html", R},
      {"//server/share/notice.html", R},
      {"res://ieframe.dll/navcancl.htm", R},
      {"RES://ieframe.dll/dnserror.htm", R},
      {"about:config", R},
      {"about:blank#x", R},
      {"ftp://news.good.com/", R},
      {"ms-settings:network", R},
      {"steam://run/1", R},
      {"vbscript:msgbox(1)", R},
      {"mailto:", R},
      {"mailto:\\\\server\\x", R},
      {"notice.html", R},
      // mail the shell would get with quotes, blanks or escapes in its recipient
      {"mailto:a b@good.com", R},
      {"mailto:\"a\"@good.com", R},
      {"mailto:%22a%22@good.com", R},
      {"mailto:x@good.com%0Abcc:y@evil.com", R},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ui::DecideNavigation(c.address, kPanel), c.want) << c.address;
}

TEST(NavigationPolicy, ScriptAndBlankPagesOnlyInTheirOwnFrame) {
  for (const char* a : {"javascript:void(0)", "JavaScript:parent.x()", "about:blank"}) {
    EXPECT_EQ(ui::DecideNavigation(a, kPanel, false), S) << a;
    EXPECT_EQ(ui::DecideNavigation(a, kPanel, true), R) << a;
  }
  for (const char* a : {" javascript:x()", "java\tscript:x()", "javascript", "jscript:x()"})
    EXPECT_EQ(ui::DecideNavigation(a, kPanel, false), R) << a;
  // A new window on the panel's host comes into the panel; elsewhere, the browser.
  EXPECT_EQ(ui::DecideNavigation("http://news.good.com/popup", kPanel, true), S);
  EXPECT_EQ(ui::DecideNavigation("http://other.com/popup", kPanel, true), B);
}

TEST(NavigationPolicy, APanelWithoutAWebAddressKeepsNothing) {
  // An empty or local announcement address makes no host "its own".
  for (const char* panel : {"", "file:///C:/news.html", "\\\\server\\news.html", "http://", "http://a@b/"}) {
    EXPECT_EQ(ui::DecideNavigation("http://b/", panel), B) << panel;
    EXPECT_EQ(ui::DecideNavigation(panel, panel), R) << panel;
  }
}

// Steps on the injected clock: how long since the last step, whether the
// player clicked, whether a new page started, and whether an open may go.
TEST(NavigationPolicy, ShellOpensArePaced) {
  struct Step {
    std::uint32_t afterMs;
    bool clicked, newPage, allowed;
  };
  const Step steps[] = {
      {0, false, false, true},      // a page may send one away without a click
      {10, false, false, false},    // but not a second within a second
      {500, true, false, false},    // not even with a click
      {490, true, false, true},     // a second later, yes
      {1000, false, false, true},   // second and
      {1000, false, false, true},   // third without a click on this page
      {1000, false, false, false},  // a fourth is one too many
      {5000, false, false, false},  // however long it waits
      {1000, true, false, true},    // a click still opens
      {1000, true, false, true},    // and clicks do not run out
      {1000, false, true, true},    // a new page starts afresh
  };
  testing_support::ManualClock clock;
  clock.Set(0xFFFFFF00u);  // across the counter's wrap
  ui::ShellThrottle throttle(clock);
  std::uint32_t now = clock.TickCount();
  int n = 0;
  for (const Step& s : steps) {
    now += s.afterMs;
    clock.Set(now);
    if (s.newPage) throttle.NewPage();
    EXPECT_EQ(throttle.Allow(s.clicked), s.allowed) << "step " << n;
    ++n;
  }
}

TEST(NavigationPolicy, VeryLongAddresses) {
  std::string base = "http://news.good.com/";
  std::string fits = base + std::string(ui::kMaxAddressLength - base.size(), 'a');
  EXPECT_EQ(ui::DecideNavigation(fits, kPanel), S);
  EXPECT_EQ(ui::DecideNavigation(fits + "a", kPanel), R);
  std::string longHost = "http://" + std::string(254, 'a') + "/";
  EXPECT_EQ(ui::DecideNavigation(longHost, kPanel), R);
  EXPECT_EQ(ui::DecideNavigation("javascript:" + std::string(5000, 'x'), kPanel), R);
  std::string megabyte(1 << 20, 'a');
  EXPECT_EQ(ui::DecideNavigation("http://" + megabyte, kPanel), R);
  EXPECT_EQ(ui::DecideNavigation("http://news.good.com/", "http://" + megabyte), B);
}

}  // namespace
