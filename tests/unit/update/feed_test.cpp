// Reading the update feed: the required version, the fallbacks of
// min_version and page, the choice of the Linux installer entry, and every
// way an installer entry can fail the whole feed.
#include "update/feed.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace kestal::update {
namespace {

const std::string kSha = std::string(64, 'a');
const std::string kShaUpper = "ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789";

// A feed with latest 1.4.0 and the given files array text.
std::string feed_with_files(const std::string &files) {
    return fmt::format(R"({{"latest":"1.4.0","page":"https://kestal.example/1.4.0","files":{}}})",
                       files);
}

std::string entry(const std::string &os, const std::string &name = "kestal-setup",
                  const std::string &url = "https://kestal.example/kestal-setup",
                  const std::string &size = "1024", const std::string &sha = kSha) {
    std::string os_member = os.empty() ? "" : fmt::format(R"("os":{},)", os);
    return fmt::format(R"({{"kind":"installer",{}"name":{},"url":{},"size":{},"sha256":{}}})",
                       os_member, name == "-" ? "1" : "\"" + name + "\"", "\"" + url + "\"", size,
                       "\"" + sha + "\"");
}

// The manifest as one line, or the error.
std::string describe(const ManifestResult &result) {
    if (!result.manifest)
        return "error " + result.error;
    const UpdateManifest &m = *result.manifest;
    std::string text = fmt::format("latest={} min={} page={}", m.latest, m.min_version, m.page);
    if (m.installer)
        text += fmt::format(" installer={} {} {} {}", m.installer->name, m.installer->url,
                            m.installer->size, m.installer->sha256);
    return text;
}

constexpr const char *kUnexpected = "error kestal update: the update server sent something "
                                    "unexpected ";

TEST(UpdateFeed, VersionPageAndMinimum) {
    struct Row {
        std::string body;
        std::string outcome;
    };
    const std::string home = "https://kestal.example";
    const Row rows[] = {
        {R"({"latest":"1.4.0"})", "latest=1.4.0 min=0.0.0 page=" + home},
        {R"({"latest":"1.3.1","min_version":"1.2.0","page":"https://x.example/notes"})",
         "latest=1.3.1 min=1.2.0 page=https://x.example/notes"},
        // Fallbacks: an invalid minimum, a page that is not https or too short.
        {R"({"latest":"1.4.0","min_version":"1.2","page":"http://x.example"})",
         "latest=1.4.0 min=0.0.0 page=" + home},
        {R"({"latest":"1.4.0","min_version":140,"page":"https:/"})",
         "latest=1.4.0 min=0.0.0 page=" + home},
        {R"({"latest":"1.4.0","page":"https://"})", "latest=1.4.0 min=0.0.0 page=https://"},
        {R"({"latest":"1.4.0","page":"HTTPS://x.example"})", "latest=1.4.0 min=0.0.0 page=" + home},
        {R"({"latest":"1.4.0","files":"none","extra":[1,2]})",
         "latest=1.4.0 min=0.0.0 page=" + home},
        {R"({"latest":"1.4.0","latest":"bad"})", "latest=1.4.0 min=0.0.0 page=" + home},
        {"not json", std::string(kUnexpected) + "(not JSON)"},
        {"", std::string(kUnexpected) + "(not JSON)"},
        {R"(["1.4.0"])", std::string(kUnexpected) + "(no version)"},
        {R"({"version":"1.4.0"})", std::string(kUnexpected) + "(no version)"},
        {R"({"latest":140})", std::string(kUnexpected) + "(no version)"},
        {R"({"latest":"1.4"})", std::string(kUnexpected) + "(no version)"},
        {R"({"latest":"bad","latest":"1.4.0"})", std::string(kUnexpected) + "(no version)"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(describe(parse_update_manifest(row.body, false)), row.outcome) << row.body;
}

TEST(UpdateFeed, InvalidUtf8IsReplacedNotRefused) {
    ManifestResult result =
        parse_update_manifest("{\"latest\":\"1.4.0\",\"note\":\"\xff\"}", false);
    EXPECT_EQ(describe(result), "latest=1.4.0 min=0.0.0 page=https://kestal.example");
}

TEST(UpdateFeed, InstallerEntries) {
    struct Row {
        std::string files;
        std::string installer; // the installer part of the description, or the error
    };
    const std::string good =
        " installer=kestal-setup https://kestal.example/kestal-setup 1024 " + kSha;
    const Row rows[] = {
        {"[]", ""},
        {"[" + entry(R"("linux")") + "]", good},
        // Other systems, entries without "os" and other kinds are skipped.
        {"[" + entry(R"("macos")") + "," + entry(R"("linux")") + "]", good},
        {"[" + entry("") + "]", ""},
        {"[" + entry("null") + "," + entry(R"("windows")") + "]", ""},
        {R"([1,"x",{"kind":"archive","os":"linux"},)" + entry(R"("linux")") + "]", good},
        {R"([{"kind":"Installer","os":"linux"}])", ""},
        // The first matching entry counts, even when a later one is good.
        {"[" + entry(R"("linux")", "bad name") + "," + entry(R"("linux")") + "]",
         "(a malformed installer entry)"},
        {"[" +
             entry(R"("linux")", "kestal-setup", "https://kestal.example/kestal-setup", "1024",
                   kShaUpper) +
             "]",
         " installer=kestal-setup https://kestal.example/kestal-setup 1024 "
         "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789"},
        {"[" + entry(R"("linux")", "k", "https://k.example/k", "536870912") + "]",
         " installer=k https://k.example/k 536870912 " + kSha},
        // Missing or wrong-kind members.
        {R"([{"kind":"installer","os":"linux"}])",
         "(an installer without name, url, size or sha256)"},
        {"[" + entry(R"("linux")", "-") + "]", "(an installer without name, url, size or sha256)"},
        {"[" + entry(R"("linux")", "k", "https://k.example/k", "1.5") + "]",
         "(an installer without name, url, size or sha256)"},
        {"[" + entry(R"("linux")", "k", "https://k.example/k", "\"1024\"") + "]",
         "(an installer without name, url, size or sha256)"},
        {"[" + entry(R"("linux")", "k", "https://k.example/k", "1e400") + "]",
         "(an installer without name, url, size or sha256)"},
        // Malformed values.
        {"[" + entry(R"("linux")", "") + "]", "(a malformed installer entry)"},
        {"[" + entry(R"("linux")", "Kestal-setup") + "]", "(a malformed installer entry)"},
        {"[" + entry(R"("linux")", "../kestal-setup") + "]", "(a malformed installer entry)"},
        {"[" + entry(R"("linux")", "k", "https://k.example/k", "0") + "]",
         "(a malformed installer entry)"},
        {"[" + entry(R"("linux")", "k", "https://k.example/k", "-5") + "]",
         "(a malformed installer entry)"},
        {"[" + entry(R"("linux")", "k", "https://k.example/k", "536870913") + "]",
         "(a malformed installer entry)"},
        {"[" + entry(R"("linux")", "k", "https://k.example/k", "1024", std::string(63, 'a')) + "]",
         "(a malformed installer entry)"},
        {"[" + entry(R"("linux")", "k", "https://k.example/k", "1024", std::string(63, 'a') + "g") +
             "]",
         "(a malformed installer entry)"},
        // The address: https only, file: only with a file feed.
        {"[" + entry(R"("linux")", "k", "http://k.example/k") + "]", "refusing http://k.example/k"},
        {"[" + entry(R"("linux")", "k", "file:///tmp/k") + "]", "refusing file:///tmp/k"},
    };
    for (const Row &row : rows) {
        std::string outcome = describe(parse_update_manifest(feed_with_files(row.files), false));
        std::string head = "latest=1.4.0 min=0.0.0 page=https://kestal.example/1.4.0";
        std::string expected;
        if (row.installer.starts_with("("))
            expected = kUnexpected + row.installer;
        else if (row.installer.starts_with("refusing "))
            expected =
                "error kestal update: refusing a non-https address: " + row.installer.substr(9);
        else
            expected = head + row.installer;
        EXPECT_EQ(outcome, expected) << row.files;
    }
}

TEST(UpdateFeed, FileInstallerAllowedWithAFileFeed) {
    std::string body = feed_with_files("[" + entry(R"("linux")", "k", "file:///tmp/k") + "]");
    EXPECT_EQ(describe(parse_update_manifest(body, true)),
              "latest=1.4.0 min=0.0.0 page=https://kestal.example/1.4.0 installer=k file:///tmp/k "
              "1024 " +
                  kSha);
}

} // namespace
} // namespace kestal::update
