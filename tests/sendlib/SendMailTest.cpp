#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/File.h"
#include "platform/Net.h"
#include "platform/Text.h"
#include "sendlib/SendMail.h"
#include "support/TempDir.h"

namespace sendlib {
namespace {

int g_resolverCalls = 0;

// Knows 127.0.0.1 only, so no query leaves the machine.
bool loopbackOnly(const char* host, uint32_t* ipv4) {
  ++g_resolverCalls;
  *ipv4 = htonl(INADDR_LOOPBACK);
  return std::strcmp(host, "127.0.0.1") == 0;
}

// A loopback port with nobody listening.
struct ClosedPort {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  uint16_t port = 0;
  ClosedPort() {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
  }
  ~ClosedPort() { ::close(fd); }
};

class SendMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = platform::currentDirectory();
    ASSERT_TRUE(platform::setCurrentDirectory(dir_.sjisPath().c_str()));
    net::setResolver(loopbackOnly);
    g_resolverCalls = 0;
  }
  void TearDown() override {
    net::setResolver(nullptr);
    platform::setCurrentDirectory(saved_.c_str());
  }
  std::vector<std::string> logEntries() {
    std::string text;
    if (!platform::readWholeFile(kSendLogName, &text)) return {"<no log>"};
    std::vector<std::string> entries;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
      entries.push_back(text.substr(at, end - at));
    return entries;
  }

  testsupport::TempDir dir_;
  std::string saved_;
};

TEST_F(SendMailTest, FailuresBeforeTheDialogue) {
  ClosedPort closed;
  const std::string attachment = dir_.sjisFile("snap.jpg");
  const std::string missing = dir_.sjisFile("none.jpg");
  struct Row {
    const char* server;
    std::string path;
    int deleteAttachment;
    int code;
    std::vector<std::string> log;
    bool resolved;
    bool fileLeft;
  } rows[] = {
      {"mail.invalid", attachment, 1, 2, {"SMTPサーバが見つかりません", "送信終了コード:  2"}, true, false},
      {"127.0.0.1", attachment, 1, 4, {"SMTPサーバに接続できません", "送信終了コード:  4"}, true, false},
      {"127.0.0.1", attachment, 0, 4, {"SMTPサーバに接続できません", "送信終了コード:  4"}, true, true},
      {"127.0.0.1", "", 1, 4, {"SMTPサーバに接続できません", "送信終了コード:  4"}, true, true},
      // The attachment is checked before any connection and left alone.
      {"127.0.0.1", missing, 1, 1, {missing + " 0", "添付ファイルサイズ異常"}, false, true},
  };
  for (const Row& r : rows) {
    ASSERT_TRUE(platform::writeWholeFile(attachment.c_str(), "JPEG"));
    SendMailRequest q{};
    q.port = closed.port;
    platform::copyField(q.server, r.server);
    platform::copyField(q.attachmentPath, r.path.c_str());
    q.writeLog = 1;
    q.deleteAttachment = r.deleteAttachment;
    g_resolverCalls = 0;
    EXPECT_EQ(sendMail(q), r.code) << r.server << r.path;
    EXPECT_EQ(logEntries(), r.log);
    EXPECT_EQ(g_resolverCalls > 0, r.resolved);
    EXPECT_EQ(platform::fileExists(attachment.c_str()), r.fileLeft) << r.server << r.path;
  }
}

TEST_F(SendMailTest, LogOfTheLatestCallOnlyAndOnlyWhenAsked) {
  SendMailRequest q{};
  platform::copyField(q.server, "mail.invalid");
  q.writeLog = 1;
  EXPECT_EQ(sendMail(q), 2);
  EXPECT_EQ(sendMail(q), 2);
  EXPECT_EQ(logEntries().size(), 2u);
  q.writeLog = 0;
  EXPECT_EQ(sendMail(q), 2);
  EXPECT_FALSE(platform::fileExists(kSendLogName));
}

}  // namespace
}  // namespace sendlib
