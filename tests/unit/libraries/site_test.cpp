// The library site: the index reader (a good index, then a table of bad ones
// and their messages), the base address, curl's command line and the
// download outcomes against a stand-in curl on PATH.
#include "../platform/test_support.h"
#include "libraries/site.h"

#include <gtest/gtest.h>

namespace kestal {
namespace {

using platform::test_support::ScopedEnv;
using platform::test_support::ScratchDir;

const std::string kUrl = "https://site.test/index.json";
const std::string kDigest(64, 'a');

std::string file_json(const std::string &path, const std::string &digest = kDigest) {
    return R"({"path":")" + path + R"(","sha256":")" + digest + R"("})";
}

// A one-library index whose library has the given extra files after
// library.json.
std::string index_with(const std::string &library_fields, const std::string &files = "") {
    return R"({"libraries":[{)" + library_fields + R"(,"files":[)" + file_json("library.json") +
           files + "]}]}";
}

TEST(LibraryIndex, ReadsEntriesInOrder) {
    std::string upper(64, 'F');
    std::string text = R"({"libraries":[
        {"name":"demo","version":"1.2.0","description":"A demo","kestal":">=1.0",
         "files":[)" + file_json("library.json", upper) +
                       "," + file_json("include/x.h") + "," + file_json("lib/x64/foo.lib") +
                       R"(]},
        {"name":"a_2","version":"x","description":7,"files":[)" +
                       file_json("library.json") + R"(]}],
      "libraries":"the first key wins"})";
    LibraryIndexResult result = read_library_index(text, kUrl);
    ASSERT_TRUE(result.entries) << result.error;
    ASSERT_EQ(result.entries->size(), 2u);
    const LibraryIndexEntry &demo = (*result.entries)[0];
    EXPECT_EQ(demo.name, "demo");
    EXPECT_EQ(demo.version, "1.2.0");
    EXPECT_EQ(demo.description, "A demo");
    EXPECT_EQ(demo.requirement, ">=1.0");
    ASSERT_EQ(demo.files.size(), 3u);
    EXPECT_EQ(demo.files[0].sha256, std::string(64, 'f'));
    EXPECT_EQ(demo.files[2].path, "lib/x64/foo.lib");
    const LibraryIndexEntry &other = (*result.entries)[1];
    EXPECT_EQ(other.name, "a_2");
    EXPECT_EQ(other.description, "");
    EXPECT_EQ(other.requirement, "");
}

TEST(LibraryIndex, NoLibrariesIsNoError) {
    for (const char *text : {"[]", "{}", R"({"libraries":null})", R"({"libraries":{}})",
                             R"({"libraries":[]})", " 7 "}) {
        LibraryIndexResult result = read_library_index(text, kUrl);
        ASSERT_TRUE(result.entries) << text << ": " << result.error;
        EXPECT_TRUE(result.entries->empty()) << text;
    }
}

TEST(LibraryIndex, BadIndexesAndTheirMessages) {
    struct Row {
        std::string text;
        std::string message;
    };
    const std::string prefix = kUrl + ": ";
    const std::string v = R"("version":"1")";
    const Row rows[] = {
        {"\xff{}", "not UTF-8"},
        {"{", "not valid JSON: "},
        {R"({"libraries":[7]})", "every library needs a name and a version"},
        {R"({"libraries":[{"name":"a"}]})", "every library needs a name and a version"},
        {R"({"libraries":[{"name":"a","version":1}]})", "every library needs a name and a version"},
        {index_with(R"("name":"Demo",)" + v), "bad library name 'Demo'"},
        {index_with(R"("name":"de-mo",)" + v), "bad library name 'de-mo'"},
        {index_with(R"("name":"_demo",)" + v), "bad library name '_demo'"},
        {index_with(R"("name":"",)" + v), "bad library name ''"},
        {index_with(R"("name":")" + std::string(65, 'a') + "\"," + v),
         "bad library name '" + std::string(65, 'a') + "'"},
        {index_with(R"("name":"a\u001b[2J",)" + v), "bad library name 'a?[2J'"},
        {index_with(R"("name":"a",)" + v, R"(,{"path":"x.h"})"),
         "library 'a': each file needs a path and a sha256"},
        {index_with(R"("name":"a",)" + v, R"(,{"path":1,"sha256":")" + kDigest + "\"}"),
         "library 'a': each file needs a path and a sha256"},
        {index_with(R"("name":"a",)" + v, "," + file_json("x.h", std::string(63, 'a'))),
         "library 'a': bad file entry 'x.h'"},
        {index_with(R"("name":"a",)" + v, "," + file_json("x.h", std::string(63, 'a') + "g")),
         "library 'a': bad file entry 'x.h'"},
        {index_with(R"("name":"a",)" + v, "," + file_json(std::string(201, 'x'))),
         "library 'a': bad file entry '" + std::string(201, 'x') + "'"},
        {R"({"libraries":[{"name":"a","version":"1"}]})", "library 'a' has no library.json"},
        {R"({"libraries":[{"name":"a","version":"1","files":[)" + file_json("sub/library.json") +
             "]}]}",
         "library 'a' has no library.json"},
        // The first bad library spoils the whole index, good ones included.
        {R"({"libraries":[{"name":"ok","version":"1","files":[)" + file_json("library.json") +
             R"(]},{"name":"B","version":"1"}]})",
         "bad library name 'B'"},
    };
    for (const Row &row : rows) {
        LibraryIndexResult result = read_library_index(row.text, kUrl);
        EXPECT_FALSE(result.entries) << row.text;
        EXPECT_EQ(result.error.substr(0, prefix.size() + row.message.size()), prefix + row.message)
            << row.text;
    }
    // A path that could leave the library's folder is refused, whatever it is.
    for (const char *path :
         {"../x", "a//b", "a/", "/a", "./a", "a b", "C:x", "a/../b", "..", "a\\\\b", ""}) {
        LibraryIndexResult result =
            read_library_index(index_with(R"("name":"a",)" + v, "," + file_json(path)), kUrl);
        EXPECT_FALSE(result.entries) << path;
        EXPECT_NE(result.error.find("bad file entry"), std::string::npos) << path;
    }
}

TEST(LibrarySite, BaseAddress) {
    struct Row {
        std::optional<std::string> value;
        std::string base;
    };
    const Row rows[] = {
        {std::nullopt, "https://kestal.example/libraries"},
        {"", "https://kestal.example/libraries"},
        {"https://mirror.test/libs///", "https://mirror.test/libs"},
        {"file:///srv/libs/", "file:///srv/libs"},
        {"///", ""},
    };
    for (const Row &row : rows) {
        ScopedEnv env;
        env.put("KESTAL_LIBRARY_URL", row.value);
        EXPECT_EQ(library_site_base(), row.base) << row.value.value_or("(unset)");
    }
}

TEST(LibrarySite, PrintableText) {
    EXPECT_EQ(printable_text("plain \xc3\xa9 text"), "plain \xc3\xa9 text");
    EXPECT_EQ(printable_text(std::string("\x1b[31m\ta\x7f\0", 9)), "?[31m?a??");
}

TEST(LibrarySite, CurlArguments) {
    EXPECT_EQ(library_curl_arguments("https://site.test/a/library.json"),
              (std::vector<std::string>{"curl", "-fsSL", "--max-time", "60", "--proto",
                                        "=https,file", "--proto-redir", "=https", "--max-filesize",
                                        "104857600", "https://site.test/a/library.json"}));
}

// A PATH holding only a stand-in curl whose behaviour the test chooses
// through FAKE_CURL; every run leaves its arguments in a log file.
class LibraryDownloadTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::test_support::install_fake_curl(dir, env); }

    ScratchDir dir;
    ScopedEnv env;
};

TEST_F(LibraryDownloadTest, Outcomes) {
    struct Row {
        std::string script;
        bool ok;
        std::string bytes_or_error;
    };
    const std::string url = "https://site.test/a/x.h";
    const std::string cap = std::to_string(kMaxLibraryDownloadBytes);
    const Row rows[] = {
        {"printf 'the body'", true, "the body"},
        {"echo ' curl: (22) The requested URL returned error: 404 ' >&2; exit 22", false,
         "couldn't download " + url + ": curl: (22) The requested URL returned error: 404"},
        {"exit 7", false, "couldn't download " + url},
        {"echo 'curl: (63) Maximum file size exceeded' >&2; exit 63", false,
         "couldn't download " + url + ": larger than 100 MiB"},
        // A chunked body curl's own limit cannot see: exactly the cap is
        // whole, one byte more stops curl.
        {"head -c " + cap + " /dev/zero", true, std::string(kMaxLibraryDownloadBytes, '\0')},
        {"head -c $((" + cap + " + 1)) /dev/zero", false,
         "couldn't download " + url + ": larger than 100 MiB"},
        {"yes", false, "couldn't download " + url + ": larger than 100 MiB"},
    };
    for (const Row &row : rows) {
        env.set("FAKE_CURL", row.script);
        LibraryDownload result = download_library_file(url);
        EXPECT_EQ(result.ok, row.ok) << row.script;
        EXPECT_TRUE((result.ok ? result.bytes : result.error) == row.bytes_or_error)
            << row.script << ": " << result.error;
    }
}

TEST_F(LibraryDownloadTest, OnlyHttpsAndFileAddressesReachCurl) {
    env.set("FAKE_CURL", "printf ok");
    for (const char *url : {"https://site.test/i", "HTTPS://site.test/i", "file:///srv/i"})
        EXPECT_TRUE(download_library_file(url).ok) << url;
    for (const char *url : {"http://site.test/i", "-o/tmp/x/index.json", "ftp://site.test/i"}) {
        LibraryDownload result = download_library_file(url);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, std::string("couldn't download ") + url +
                                    ": only https: and file: addresses are allowed");
    }
    platform::Result<std::string> log = platform::read_file(dir / "log");
    ASSERT_TRUE(log.ok());
    EXPECT_EQ(log->find("http://"), std::string::npos) << *log;
    EXPECT_EQ(log->find("-o/tmp"), std::string::npos) << *log;
}

TEST_F(LibraryDownloadTest, MissingCurlAndAFailedIndex) {
    env.set("PATH", dir / "nothing-here");
    env.set("KESTAL_LIBRARY_URL", "https://site.test/libs//");
    LibraryIndexResult index = fetch_library_index();
    EXPECT_FALSE(index.entries);
    EXPECT_EQ(index.error, "can't run curl (No such file or directory (os error 2)). Kestal "
                           "downloads libraries with it");
    env.set("PATH", dir / "bin");
    env.set("FAKE_CURL", "printf '{\"libraries\":[7]}'");
    index = fetch_library_index();
    EXPECT_EQ(index.error,
              "https://site.test/libs/index.json: every library needs a name and a version");
}

} // namespace
} // namespace kestal
