// curl's command line, and curl_fetch against a stand-in curl on PATH: the
// refused addresses (curl never runs), curl missing, its failures with and
// without a message, the size limit by exit status and by our own capture.
#include "../platform/test_support.h"
#include "update/download.h"

#include <gtest/gtest.h>

namespace kestal::update {
namespace {

using platform::test_support::ScopedEnv;
using platform::test_support::ScratchDir;

TEST(UpdateCurl, Arguments) {
    CurlRequest feed{"https://kestal.example/update.json", false, std::nullopt, "20", 1048576};
    EXPECT_EQ(curl_arguments(feed),
              (std::vector<std::string>{"curl", "-fsSL", "--max-time", "20", "--proto", "=https",
                                        "--proto-redir", "=https", "--max-filesize", "1048576",
                                        "https://kestal.example/update.json"}));
    CurlRequest installer{"file:///srv/k", true, "/tmp/d/k", "900", 1024};
    EXPECT_EQ(curl_arguments(installer),
              (std::vector<std::string>{"curl", "-fsSL", "--max-time", "900", "--proto",
                                        "=https,file", "--proto-redir", "=https", "--max-filesize",
                                        "1024", "-o", "/tmp/d/k", "file:///srv/k"}));
}

// A PATH holding only a stand-in curl whose behaviour the test chooses
// through FAKE_CURL; every run leaves its arguments in a log file.
class UpdateCurlFetch : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.write("bin/.keep", "");
        platform::test_support::install_fake_curl(dir, env);
    }
    bool curl_ran() const { return platform::path_exists(dir / "log"); }
    CurlResult fetch(const std::string &url, bool allow_file = false,
                     std::uint64_t max_bytes = kMaxDownloadBytes) {
        return curl_fetch(CurlRequest{url, allow_file, std::nullopt, "20", max_bytes});
    }

    ScratchDir dir;
    ScopedEnv env;
};

TEST_F(UpdateCurlFetch, RefusedAddressesNeverRunCurl) {
    for (const char *url : {"http://kestal.example/f", "HTTPS://kestal.example/f", "file:///f"}) {
        CurlResult result = fetch(url);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, std::string("kestal update: refusing a non-https address: ") + url);
    }
    EXPECT_FALSE(curl_ran());
}

TEST_F(UpdateCurlFetch, Outcomes) {
    struct Row {
        std::string script;
        bool ok;
        std::string body_or_error;
        bool too_large;
    };
    const std::string url = "https://kestal.example/f";
    const Row rows[] = {
        {"printf 'the body'", true, "the body", false},
        {"echo '  curl: (22) The requested URL returned error: 404  ' >&2; exit 22", false,
         "kestal update: couldn't download " + url +
             ": curl: (22) The requested URL returned error: 404",
         false},
        {"printf 'line one\\nline two\\n\\n' >&2; exit 6", false,
         "kestal update: couldn't download " + url + ": line one\nline two", false},
        {"exit 7", false, "kestal update: couldn't download " + url, false},
        {"printf '\\377 bad\\n' >&2; exit 7", false,
         "kestal update: couldn't download " + url + ": \xef\xbf\xbd bad", false},
        {"echo 'curl: (63) Maximum file size exceeded' >&2; exit 63", false,
         "kestal update: couldn't download " + url + ": curl: (63) Maximum file size exceeded",
         true},
        {"kill -9 $$", false, "kestal update: couldn't download " + url, false},
    };
    for (const Row &row : rows) {
        env.set("FAKE_CURL", row.script);
        CurlResult result = fetch(url);
        EXPECT_EQ(result.ok, row.ok) << row.script;
        EXPECT_EQ(result.ok ? result.body : result.error, row.body_or_error) << row.script;
        EXPECT_EQ(result.too_large, row.too_large) << row.script;
    }
}

TEST_F(UpdateCurlFetch, OutputBeyondTheLimitStopsCurl) {
    // A server that never stops sending, with curl's own limit not working.
    env.set("FAKE_CURL", "yes");
    CurlResult result = fetch("https://kestal.example/f", false, 4096);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.too_large);
    EXPECT_EQ(result.error,
              "kestal update: couldn't download https://kestal.example/f: more than 4096 bytes");
    env.set("FAKE_CURL", "head -c 4096 /dev/zero");
    EXPECT_TRUE(fetch("https://kestal.example/f", false, 4096).ok);
}

TEST_F(UpdateCurlFetch, OutputFileBeyondTheLimitStopsCurl) {
    // curl writing its -o file without end (a file: address or a body
    // without a length, where its own limit does nothing).
    env.set("FAKE_CURL", "while [ $# -gt 1 ]; do [ \"$1\" = -o ] && out=$2; shift; done; "
                         "exec yes > \"$out\"");
    std::string file = dir / "download";
    CurlResult result = curl_fetch(CurlRequest{"file:///srv/k", true, file, "900", 4096});
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.too_large);
    EXPECT_EQ(result.error, "kestal update: couldn't download file:///srv/k: more than 4096 bytes");
}

TEST_F(UpdateCurlFetch, FileAddressesWithTheFlag) {
    env.set("FAKE_CURL", "printf ok");
    CurlResult result = fetch("file:///srv/feed.json", true);
    EXPECT_TRUE(result.ok);
    platform::Result<std::string> log = platform::read_file(dir / "log");
    ASSERT_TRUE(log.ok());
    EXPECT_NE(log->find("=https,file\n--proto-redir\n=https\n"), std::string::npos) << *log;
}

TEST_F(UpdateCurlFetch, MissingCurl) {
    env.set("PATH", dir / "nothing-here");
    CurlResult result = fetch("https://kestal.example/f");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error,
              "kestal update: can't run curl (No such file or directory (os error 2))");
}

TEST(UpdateDownloadRead, ErrorIsTheOsTextAlone) {
    ScratchDir dir;
    platform::Result<std::string> missing = read_download(dir / "none");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().text, "No such file or directory (os error 2)");
    platform::Result<std::string> bytes = read_download(dir.write("f", std::string("a\0b", 3)));
    ASSERT_TRUE(bytes.ok());
    EXPECT_EQ(*bytes, std::string("a\0b", 3));
}

} // namespace
} // namespace kestal::update
