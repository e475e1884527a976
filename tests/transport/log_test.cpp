// csLog levels and priorities, and password masking in debug_string.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ipc/libccom/ccom.h"
#include "support/log_capture.h"

namespace {

struct LogEnable {
  explicit LogEnable(int on) { csLogLocalEnable(on); }
  ~LogEnable() { csLogLocalEnable(0); }
};

TEST(CsLog, EveryLevelHasItsNameAndAndroidPriority) {
  kyrtest::LogCapture cap;
  LogEnable on(1);
  struct {
    unsigned level;
    int prio;
    const char *prefix;
  } const cases[] = {
      {0, 7, "T:EMERG:"}, {1, 5, "T:ALERT:"},  {2, 7, "T:CRIT:"}, {3, 6, "T:ERR:"},  {4, 5, "T:WARNING:"},
      {5, 4, "T:NOTICE:"}, {6, 4, "T:INFO:"}, {7, 3, "T:DEBUG:"}, {9, 6, "T::"}, {1000, 6, "T::"},
  };
  for (const auto &c : cases) {
    cap.Clear();
    csLog("T", c.level, "value %d\n", 17);
    auto lines = cap.Lines();
    ASSERT_EQ(lines.size(), 1u) << "level " << c.level;
    EXPECT_EQ(lines[0].prio, c.prio) << "level " << c.level;
    EXPECT_EQ(lines[0].tag, "CSAPI");
    EXPECT_EQ(lines[0].text, std::string(c.prefix) + "value 17\n");
  }
}

TEST(CsLog, DebugOnlyWhileEnabledOtherLevelsAlways) {
  kyrtest::LogCapture cap;
  csLogLocalEnable(0);
  csLog("T", CS_LOG_DEBUG, "hidden\n");
  csLog("T", CS_LOG_INFO, "shown\n");
  EXPECT_EQ(cap.Count("hidden"), 0u);
  ASSERT_EQ(cap.Count("shown"), 1u);
  EXPECT_EQ(cap.Find("shown")[0].prio, 4);
  EXPECT_EQ(csLogLocalEnable(1), 0);
  csLog("T", CS_LOG_DEBUG, "visible\n");
  EXPECT_EQ(cap.Count("T:DEBUG:visible"), 1u);
  csLogLocalEnable(0);
}

TEST(CsLog, NoNameGivesTheBareMessageAndLongTextIsCutAt511) {
  kyrtest::LogCapture cap;
  csLog(nullptr, CS_LOG_ERR, "bare %s", "text");
  std::string big(2000, 'y');
  csLog("N", CS_LOG_ERR, "%s", big.c_str());
  auto lines = cap.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "bare text");
  EXPECT_EQ(lines[1].text.size(), 511u);
  EXPECT_EQ(lines[1].text.rfind("N:ERR:yyy", 0), 0u);
}

std::string Redact(const std::string &in) {
  ccom_msg_t *m = ccom_client_msg_alloc();
  EXPECT_NE(ccom_msg_strcpy(m, in.c_str()), nullptr);
  char *out = debug_string(m);
  std::string s = out ? out : "<null>";
  free(out);
  ccom_client_msg_free(m);
  return s;
}

TEST(DebugString, PasswordValuesAreEmptiedOtherKeysKept) {
  struct {
    const char *in, *out;
  } const cases[] = {
      {R"({"adminPwd":"s3cret","newPwd":"n3w","name":"admin"})", R"({"adminPwd":"","newPwd":"","name":"admin"})"},
      {R"({"ADMINPWD":"a","NewPwd":"b","oldpwd":"c"})", R"({"ADMINPWD":"","NewPwd":"","oldpwd":""})"},
      {R"({"password":"p","passwordConfirm":"q","PassWord2":"r"})", R"({"password":"","passwordConfirm":"","PassWord2":""})"},
      {R"({"user":"bob","mypassword":"keep"})", R"({"user":"bob","mypassword":"keep"})"},
      {R"({"adminPwd":"","id":2})", R"({"adminPwd":"","id":2})"},
      {R"({"oldPwd":"a\"b\\","x":"y"})", R"({"oldPwd":"","x":"y"})"},
      // A non-string value empties the next quoted text instead.
      {R"({"password":7,"next":"v"})", R"({"password":7,"":"v"})"},
      {R"({"adminPwd":)", R"({"adminPwd":)"},
      {R"({"a":1,"adminPwd":"one","b":{"adminPwd":"two"}})", R"({"a":1,"adminPwd":"","b":{"adminPwd":""}})"},
      {"plain text", "plain text"},
      // The key's text seen first where it is no key; the real key later.
      {R"({"name":"password","hint":"\"Password","password":"x","b":"adminpwd"})",
       R"({"name":"password","hint":"\"Password","password":"","b":"adminpwd"})"},
      {R"({"pTerm":{"password":"secret","PASSWORD":"two"},"flags":1})",
       R"({"pTerm":{"password":"","PASSWORD":""},"flags":1})"},
  };
  for (const auto &c : cases) EXPECT_EQ(Redact(c.in), c.out) << c.in;
}

TEST(DebugString, NullArguments) {
  EXPECT_EQ(debug_string(nullptr), nullptr);
  ccom_msg_t m{};
  EXPECT_EQ(debug_string(&m), nullptr);
}

}  // namespace
