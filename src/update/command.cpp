// The update command. The download goes into a folder created fresh with
// mode 0700 (never one that already exists), so nobody else can swap the
// installer between its SHA-256 check and its start. The installer's
// declared size bounds the download three ways: curl's limit together with
// the watch that stops curl once the file it writes grows past the size,
// the size of the finished file, and the bytes read back; anything bigger
// or smaller is a mismatch, the partial file goes with its folder, and
// nothing is run.
#include "update/command.h"

#include "platform/env.h"
#include "platform/files.h"
#include "platform/process.h"
#include "sha256/sha256.h"
#include "support/version.h"
#include "update/download.h"
#include "update/feed.h"
#include "update/settings.h"

#include <cstdio>
#include <filesystem>
#include <fmt/format.h>
#include <sys/stat.h>

namespace kestal::update {

namespace {

constexpr std::string_view kMismatch =
    "kestal update: the download doesn't match the manifest ({0}); nothing was installed";

// How many names are tried when the download folder's name is taken; more
// than a few taken names in a row is someone planting them.
constexpr int kFolderAttempts = 10;

void write_line(std::FILE *stream, const std::string &text) {
    // Standard output first, so lines of both streams keep their order.
    std::fflush(stdout);
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int fail(const std::string &message) {
    write_line(stderr, message);
    return 1;
}

std::string exe_path(const std::string &root) {
    return root + "/bin/kestal";
}

std::string old_exe_path(const std::string &root) {
    return root + "/bin/kestal.old";
}

bool anything_at(const std::string &path) {
    return platform::path_info(path, /*follow_symlinks=*/false).ok();
}

void remove_tree(const std::string &path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

// Creates "kestal-update-{latest}-{pid}" (or, when that name is taken, the
// same name with "-1", "-2" ...) in the temporary folder, exclusively and
// with mode 0700. Fails with the error of the first name when none is free.
platform::Result<std::string> make_download_folder(const std::string &latest) {
    std::string base =
        fmt::format("{}/kestal-update-{}-{}", platform::temp_dir(), latest, platform::process_id());
    (void)platform::create_dirs(platform::temp_dir());
    std::optional<platform::OsError> first_error;
    for (int attempt = 0; attempt < kFolderAttempts; ++attempt) {
        std::string folder = attempt == 0 ? base : fmt::format("{}-{}", base, attempt);
        platform::Result<void> made = platform::create_dir(folder, 0700);
        if (made)
            return folder;
        if (!first_error)
            first_error = made.error();
        if (made.error().code != EEXIST)
            break;
    }
    return platform::OsError{
        fmt::format("kestal update: can't make {}: {}", base, first_error->text)};
}

// Steps 13 to 16 of the install: the download, its checks and the
// installer. Returns the failure message; the caller removes the folder.
std::optional<std::string> download_and_install(const std::string &root, const std::string &folder,
                                                const InstallerInfo &installer, bool allow_file) {
    std::string file = folder + "/" + installer.name;
    CurlRequest request{installer.url, allow_file, file, "900", installer.size};
    CurlResult fetched = curl_fetch(request);
    // A file bigger than announced is refused before it is read into memory,
    // in the same words whether curl was stopped while writing it or had
    // just finished it (which of the two happens to a file a little too big
    // is a matter of timing).
    std::string too_large = fill_placeholders(
        kMismatch, {fmt::format("more than {0} bytes, expected {0}", installer.size)});
    if (fetched.too_large)
        return too_large;
    if (!fetched.ok)
        return fetched.error;
    platform::Result<platform::PathInfo> info = platform::path_info(file);
    if (info && info->size > installer.size)
        return too_large;
    platform::Result<std::string> bytes = read_download(file);
    if (!bytes)
        return bytes.error().text;
    if (bytes->size() != installer.size)
        return fill_placeholders(
            kMismatch, {fmt::format("{} bytes, expected {}", bytes->size(), installer.size)});
    if (sha256_hex(*bytes) != installer.sha256)
        return fill_placeholders(kMismatch, {"sha256"});
    write_line(stdout, fill_placeholders("sha256 checked: {0}", {installer.sha256}));
    if (::chmod(file.c_str(), 0700) != 0)
        return fmt::format("kestal update: can't run {}: {}", file, platform::last_os_error().text);
    return run_installer(root, file);
}

// Steps 8 to 17: everything after "is out" when installing.
int install(const UpdateManifest &manifest, bool allow_file) {
    std::optional<std::string> root = installed_root();
    if (!root)
        return fail(fill_placeholders("kestal update: this kestal ({0}) wasn't installed by "
                                      "kestal-setup, so it can't update itself. Get the newest "
                                      "from {1}",
                                      {platform::self_exe_path().value_or(""), manifest.page}));
    if (is_newer_version(manifest.min_version))
        return fail(fill_placeholders(
            "kestal update: Kestal {0} needs at least {1} to update in place. Download it from {2}",
            {manifest.latest, manifest.min_version, manifest.page}));
    if (!manifest.installer)
        return fail(
            fill_placeholders("kestal update: Kestal {0} has no installer for {1} yet. See {2}",
                              {manifest.latest, std::string(kInstallerOs), manifest.page}));
    const InstallerInfo &installer = *manifest.installer;
    platform::Result<std::string> folder = make_download_folder(manifest.latest);
    if (!folder)
        return fail(folder.error().text);
    write_line(stdout, fill_placeholders("Downloading {0} ({1} KB)...",
                                         {installer.url, std::to_string(installer.size / 1024)}));
    std::optional<std::string> error = download_and_install(*root, *folder, installer, allow_file);
    remove_tree(*folder);
    if (error)
        return fail(*error);
    write_line(stdout, fill_placeholders("Kestal {0} is installed. Notes: {1}",
                                         {manifest.latest, manifest.page}));
    return 0;
}

// No argument (install) or "--check".
int check_or_install(bool check_only, bool allow_file) {
    if (std::optional<std::string> root = installed_root())
        remove_old_exe(*root);
    ManifestResult fetched = fetch_update_manifest(allow_file);
    if (!fetched.manifest)
        return fail(fetched.error);
    const UpdateManifest &manifest = *fetched.manifest;
    UpdateState state = load_update_state();
    state.latest = manifest.latest;
    state.checked = unix_seconds_now();
    save_update_state(state);
    if (!is_newer_version(manifest.latest)) {
        write_line(stdout, fill_placeholders("Kestal {0} is up to date.", {kVersion}));
        return 0;
    }
    write_line(stdout,
               fill_placeholders("Kestal {0} is out (you have {1}).", {manifest.latest, kVersion}));
    if (check_only) {
        write_line(stdout, "Run `kestal update` to install it.");
        return 0;
    }
    return install(manifest, allow_file);
}

// The silent check the daily notice starts: stores the feed's latest.
int background_check(bool allow_file) {
    ManifestResult fetched = fetch_update_manifest(allow_file);
    if (!fetched.manifest)
        return 0;
    UpdateState state = load_update_state();
    state.latest = fetched.manifest->latest;
    save_update_state(state);
    return 0;
}

int switch_notice(bool off) {
    UpdateState state = load_update_state();
    state.off = off;
    save_update_state(state);
    write_line(stdout, off ? "The daily update check is off. `kestal update` still works; `kestal "
                             "update --on` turns it back on."
                           : "The daily update check is on (installed copies look once a day and "
                             "print one line when there is a newer Kestal).");
    return 0;
}

} // namespace

std::string update_usage_text() {
    return "usage: kestal update [--check | --off | --on]\n"
           "  (no option)  download and install the newest Kestal\n"
           "  --check      only say whether there is a newer one\n"
           "  --off / --on the once-a-day check that prints a line when there is a newer Kestal";
}

int update_command(const std::vector<std::string> &args) {
    std::string option = args.size() == 1 ? args[0] : "";
    bool known = args.empty() || option == "--check" || option == "--off" || option == "--on" ||
                 option == "--background";
    if (!known) {
        write_line(stderr, update_usage_text());
        return 2;
    }
    std::string feed = update_feed_url();
    bool allow_file = feed.size() >= 5 && feed.starts_with("file:");
    if (option == "--on" || option == "--off")
        return switch_notice(option == "--off");
    if (option == "--background")
        return background_check(allow_file);
    return check_or_install(option == "--check", allow_file);
}

std::optional<std::string> installed_root_of(const std::string &exe_path) {
    std::filesystem::path exe(exe_path);
    std::filesystem::path folder = exe.parent_path();
    if (folder.filename() != "bin")
        return std::nullopt;
    std::filesystem::path root = folder.parent_path();
    if (root.empty())
        return std::nullopt;
    if (!anything_at((root / "install.json").string()))
        return std::nullopt;
    return root.string();
}

std::optional<std::string> installed_root() {
    std::optional<std::string> self = platform::self_exe_path();
    if (!self)
        return std::nullopt;
    return installed_root_of(*self);
}

void remove_old_exe(const std::string &root) {
    (void)platform::remove_file(old_exe_path(root));
}

std::optional<std::string> run_installer(const std::string &root, const std::string &installer) {
    std::string exe = exe_path(root);
    std::string old_exe = old_exe_path(root);
    (void)platform::remove_file(old_exe);
    if (platform::Result<void> moved = platform::rename_path(exe, old_exe); !moved)
        return fmt::format("kestal update: can't move {} aside: {}", exe, moved.error().text);
    std::fflush(stdout);
    std::fflush(stderr);
    platform::Result<platform::ExitStatus> ran =
        platform::run_inherited({installer, "--update", "--dir", root});
    if (ran && ran->success())
        return std::nullopt;
    // An installer ended by a signal is named by its signal, not a made-up code.
    std::string reason = !ran               ? ran.error().text
                         : ran->signal != 0 ? platform::describe_exit(*ran)
                                            : fmt::format("exit code {}", ran->code);
    if (!anything_at(exe)) {
        (void)platform::rename_path(old_exe, exe);
        return fill_placeholders("kestal update: kestal-setup failed ({0}); Kestal {1} is still "
                                 "installed",
                                 {reason, kVersion});
    }
    return fill_placeholders("kestal update: kestal-setup failed ({0}) after replacing kestal. Run "
                             "`kestal update` again",
                             {reason});
}

} // namespace kestal::update
