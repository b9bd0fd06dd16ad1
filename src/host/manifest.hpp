#pragma once
// The host manifests through which browsers find the host.
#include <filesystem>
#include <string>
#include <string_view>

#include "base/result.hpp"

namespace nm::host {

namespace fs = std::filesystem;

// The native messaging host name, in manifests, registry keys and result lines.
inline constexpr std::string_view kHostName = "com.qartorvaneldownloadmanager.host";
inline constexpr std::string_view kHostDescription = "QAR Torvanel Download Manager";
inline constexpr std::string_view kChromiumManifestName =
    "com.qartorvaneldownloadmanager.host.json";
inline constexpr std::string_view kFirefoxManifestName =
    "com.qartorvaneldownloadmanager.host.firefox.json";

enum class ManifestKind { chromium, firefox };

// The keys of a manifest, which the doctor reads back, and its one type: the
// browser talks to the host over its standard streams.
inline constexpr std::string_view kManifestAllowedExtensions = "allowed_extensions";
inline constexpr std::string_view kManifestAllowedOrigins = "allowed_origins";
inline constexpr std::string_view kManifestDescription = "description";
inline constexpr std::string_view kManifestName = "name";
inline constexpr std::string_view kManifestPath = "path";
inline constexpr std::string_view kManifestType = "type";
inline constexpr std::string_view kManifestStdio = "stdio";

// The manifest document for the executable at `exe_path` (UTF-8): keys in
// alphabetical order, two-space indent, no final line feed.
std::string manifest_text(ManifestKind kind, std::string_view exe_path);
// The same for a path, which must be expressible as UTF-8.
Result<std::string> manifest_for(ManifestKind kind, const fs::path& exe);

// Creates or replaces the file; the error is the path, ": " and the system's text.
Status write_manifest(const fs::path& file, std::string_view text);

}  // namespace nm::host
