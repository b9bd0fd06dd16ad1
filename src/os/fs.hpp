#pragma once
// Files, folders, the environment and the program's own location.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.hpp"

namespace nm::os {

namespace fs = std::filesystem;

fs::path path_from_utf8(std::string_view utf8);
// None when the path cannot be written as UTF-8.
std::optional<std::string> path_to_utf8(const fs::path& p);
// For messages: invalid parts replaced.
std::string path_display(const fs::path& p);

// A variable that is present with an empty value yields "".
std::optional<std::string> get_env(const char* name);
// The same value as a path, unchanged: on Windows the wide text as it is,
// without a round trip through UTF-8 that would alter unpaired surrogates.
std::optional<fs::path> get_env_path(const char* name);

// How the PATH variable lists folders: Windows separates them with ';' and
// drops double quotes (which may hold a ';'); POSIX separates them with ':'.
enum class PathListRules { windows, posix };
PathListRules path_list_rules();

// Full path of the running executable; the error is the system's text.
Result<fs::path> exe_path();
// The user's roaming application data folder (POSIX: $XDG_CONFIG_HOME when
// absolute, else $HOME/.config).
std::optional<fs::path> roaming_app_data();

// Error texts are the system's text (see error.hpp).
Result<std::string> read_file(const fs::path& p);
// Creates or truncates, then writes every byte.
Status write_file(const fs::path& p, std::string_view bytes);
// Opens for appending (created if absent, shared for read, write and delete),
// writes the bytes in one append write (resuming an interrupted one), closes.
Status append_file(const fs::path& p, std::string_view bytes);
// Creates or truncates the file for writing and closes it, writing nothing.
// Others may have it open for anything meanwhile. A file another holds
// without sharing it fails with the kind in_use.
Status create_empty_file(const fs::path& p);
Status remove_file(const fs::path& p);
// Creates the folder and its missing parents.
Status make_dirs(const fs::path& p);
// Symbolic links followed.
bool is_dir(const fs::path& p);
// Whether the metadata of the path can be read (it exists and is reachable).
bool metadata_readable(const fs::path& p);
// Moves a file or folder, replacing an existing file at the target.
Status move_replace(const fs::path& from, const fs::path& to);
// Replaces the file whole: the content goes to a new file beside it, which is
// then moved over the old one, so that no reader ever sees half of it.
// Windows (and Wine) refuse the move while another process has the file
// open, so a refused move is tried again for up to retry_ms. On failure the
// file is as it was and the temporary file is gone; the error is the write's
// or the last move's.
Status replace_file(const fs::path& p, std::string_view content, int retry_ms);

// An exclusive lock on a lock file of its own (created when absent, never
// written, never removed), held until the object goes or the process ends.
// It orders only those who take it: the shared file it guards stays open to
// every reader and writer.
class FileLock {
 public:
  explicit FileLock(const fs::path& p);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // False when the lock file could not be opened or created.
  bool is_open() const { return handle_ != -1; }
  // One attempt, without waiting: false while another holder has the lock.
  bool try_lock();

 private:
  intptr_t handle_ = -1;
  bool held_ = false;
};

}  // namespace nm::os
