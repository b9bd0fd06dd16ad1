#include "host/manifest.hpp"

#include "base/text.hpp"
#include "host/extension_ids.hpp"
#include "json/writer.hpp"
#include "os/fs.hpp"

namespace nm::host {

std::string manifest_text(ManifestKind kind, std::string_view exe_path) {
  json::PrettyObject m;
  if (kind == ManifestKind::chromium)
    m.strings(kManifestAllowedOrigins, allowed_origins());
  else
    m.strings(kManifestAllowedExtensions, {std::string(kFirefoxAddonId)});
  return m.string(kManifestDescription, kHostDescription)
      .string(kManifestName, kHostName)
      .string(kManifestPath, exe_path)
      .string(kManifestType, kManifestStdio)
      .str();
}

Result<std::string> manifest_for(ManifestKind kind, const fs::path& exe) {
  // A POSIX path is bytes, so its conversion alone proves nothing.
  const auto text = os::path_to_utf8(exe);
  if (!text || !base::is_valid_utf8(*text)) return Error{"path contains invalid UTF-8 characters"};
  return manifest_text(kind, *text);
}

Status write_manifest(const fs::path& file, std::string_view text) {
  if (Status st = os::write_file(file, text); !st)
    return Error{os::path_display(file) + ": " + st.error(), st.error_kind()};
  return {};
}

}  // namespace nm::host
