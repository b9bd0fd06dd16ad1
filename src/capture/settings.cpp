#include "capture/settings.hpp"

#include <algorithm>

#include "base/text.hpp"
#include "capture/patterns.hpp"
#include "json/reader.hpp"
#include "os/fs.hpp"

namespace nm::capture {

// clang-format off
constexpr std::string_view kDefaultAutoTypes =
    "00* 3DM 3DS 3GP 3MF 7Z AAB AAC ABC ACE AFDESIGN AFPHOTO AI AIF AIFF APE APK APKM APKS "
    "APPIMAGE APPX APPXBUNDLE ARJ ARROW ARW ASF AU AVI AVRO AZW AZW3 BAK BAM BIN BLEND BZ BZ2 "
    "C4D CAB CAF CBR CBZ CCD CHD CKPT CPIO CR2 CR3 CRAM CSO DAE DAT DCM DDS DEB DFF DIVX DJVU "
    "DMG DNG DOC DOCX DSF DWG DXF EPS EPUB EXE EXR F3D F4V FASTA FASTQ FB2 FBX FEATHER FIG "
    "FITS FLAC FLATPAK FQ GCODE GCZ GEM GGML GGUF GLB GLTF GPKG GRIB GRIB2 GZ GZIP H5 HDF5 "
    "HDR IGES IGS IMG INDD IPA ISO ISZ JAR JOBLIB JSONL KERAS KRA LAS LAZ LLAMAFILE LWO LZ "
    "LZ4 LZH LZMA M2T M2TS M2V M4A M4B M4V MA MAT MAX MB MBTILES MDF MDS MID MIDI MKA MKV "
    "MLMODEL MOBI MOV MP3 MP4 MPA MPE MPEG MPG MSI MSIX MSIXBUNDLE MSP MSU MTS MXF NC NDJSON "
    "NEF NEMO NII NPY NPZ NRG NSP NSZ NUPKG OBJ ODP ODS ODT OGG OGM OGV ONNX OPUS ORC ORF OTF "
    "OVA OVF PAK PARQUET PB PBF PDF PICKLE PK3 PK4 PKG PKL PLJ PLY POTX PPS PPSX PPT PPTX PSB "
    "PSD PT PTH QCOW QCOW2 QT R0* R1* R2* R3* R4* R5* R6* R7* R8* R9* RA RAF RAR RDS RM RMVB "
    "RPM RTF RUN RVZ RW2 SAFETENSORS SEA SF2 SFZ SHP SIT SITX SKETCH SKP SLDASM SLDPRT SNAP "
    "SQLITE SQLITE3 STEP STL STP TAR TBZ TBZ2 TFLITE TGA TGZ TIF TIFF TLZ TORRENT TTA TTC TTF "
    "TXZ TZST UNITYPACKAGE USD USDA USDC USDZ VDB VDI VHD VHDX VMDK VOB VPK VSIX WAV WBFS "
    "WEBM WHL WIM WMA WMV WRL WTV WUA WV X3D XAPK XCF XCI XLS XLSB XLSM XLSX XZ Z Z0* ZIP "
    "ZIPX ZPR ZST ZTL";

// The update service of the operating system, a certificate authority's
// site-seal host, and two web services that serve their own files in place.
constexpr std::string_view kDefaultExcludedSites =
    "*.update.microsoft.com download.windowsupdate.com *.download.windowsupdate.com "
    "seal.globalsign.com docs.google.com *.sharepoint.com";

constexpr std::string_view kLegacyAutoTypes[3] = {
    // The first list: 53 words.
    "3GP 7Z AAC ACE AIF APK ARJ ASF AVI BIN BZ2 EXE GZ GZIP IMG ISO LZH M4A M4V MKV MOV MP3 "
    "MP4 MPA MPE MPEG MPG MSI MSU OGG OGV PDF PLJ PPS PPT QT R0* R1* RA RAR RM RMVB SEA SIT "
    "SITX TAR TIF TIFF WAV WMA WMV Z ZIP",
    // The first with TORRENT.
    "3GP 7Z AAC ACE AIF APK ARJ ASF AVI BIN BZ2 EXE GZ GZIP IMG ISO LZH M4A M4V MKV MOV MP3 "
    "MP4 MPA MPE MPEG MPG MSI MSU OGG OGV PDF PLJ PPS PPT QT R0* R1* RA RAR RM RMVB SEA SIT "
    "SITX TAR TIF TIFF TORRENT WAV WMA WMV Z ZIP",
    // The second with 17 package, disk-image, archive and media types: 71 words.
    "3GP 7Z AAC ACE AIF APK APPIMAGE APPX APPXBUNDLE ARJ ASF AVI BIN BZ2 CAB DEB DMG EXE FLAC "
    "GZ GZIP IMG ISO JAR LZH M4A M4V MKV MOV MP3 MP4 MPA MPE MPEG MPG MSI MSIX MSU OGG OGV "
    "OPUS PDF PKG PLJ PPS PPT QT R0* R1* RA RAR RM RMVB RPM SEA SIT SITX TAR TGZ TIF TIFF "
    "TORRENT TXZ WAV WEBM WMA WMV XZ Z ZIP ZST",
};
// clang-format on

namespace {

using json::Cursor;
using json::RecordLayout;

constexpr auto kRuleKeys = json::keys_by_name(kRuleFields);

// The application writes objects only; an array in their place is a broken
// file like any other wrong type, not a record read by position.
constexpr RecordLayout kRulesLayout{"struct CaptureRules", kRuleFields, kRuleKeys, false};

constexpr std::string_view kStoredFields[] = {"settings"};
constexpr RecordLayout::Key kStoredKeys[] = {{kStoredFields[0], 0}};
constexpr RecordLayout kStoredLayout{"struct Stored", kStoredFields, kStoredKeys, false};

// One reader for each kind of option.
bool read_value(Cursor& c, bool& out) {
  return c.read_bool(out);
}

bool read_value(Cursor& c, std::string& out) {
  return c.read_string(out);
}

bool read_value(Cursor& c, uint64_t& out) {
  return c.read_uint(out, UINT64_MAX, "u64");
}

bool read_value(Cursor& c, std::vector<std::string>& out) {
  return c.read_strings(out);
}

bool read_value(Cursor& c, BrowserTicks& out) {
  out.clear();
  return c.read_seq([&](Cursor& e) {
    auto& entry = out.emplace_back();
    return e.read_tuple(2, "a tuple of size 2", [&](Cursor& v, size_t i) {
      return i == 0 ? v.read_string(entry.first) : v.read_bool(entry.second);
    });
  });
}

// The distinct words of a type list, upper-cased and sorted.
std::vector<std::string> normalized_types(std::string_view text) {
  std::vector<std::string> words = split_words(text);
  for (std::string& w : words) w = base::ascii_upper(w);
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  return words;
}

}  // namespace

void upgrade_auto_types(CaptureRules& rules) {
  // The current default is no old list; it is what most files hold (or
  // leave out), so it skips the word-by-word comparison.
  if (rules.auto_types == kDefaultAutoTypes) return;
  const std::vector<std::string> loaded = normalized_types(rules.auto_types);
  for (std::string_view legacy : kLegacyAutoTypes) {
    if (loaded == normalized_types(legacy)) {
      rules.auto_types = std::string(kDefaultAutoTypes);
      return;
    }
  }
}

Result<CaptureRules> read_capture_rules(std::string_view bytes) {
  CaptureRules rules;
  const Status read = json::read_document(bytes, kStoredLayout, [&](Cursor& c, size_t) {
    return c.read_record(kRulesLayout, [&](Cursor& f, size_t option) {
      return std::visit([&](auto field) { return read_value(f, rules.*field); },
                        kCaptureOptions[option].field);
    });
  });
  if (!read) return read.failure();
  upgrade_auto_types(rules);
  return rules;
}

CaptureRules load_capture_rules(const std::optional<std::filesystem::path>& data_dir) {
  if (!data_dir) return CaptureRules::defaults();
  auto bytes = os::read_file(*data_dir / kSettingsFile);
  if (!bytes) return CaptureRules::defaults();
  // A broken file counts as absent: one bad value discards the valid ones too.
  auto rules = read_capture_rules(*bytes);
  if (!rules) return CaptureRules::defaults();
  return std::move(rules).value();
}

}  // namespace nm::capture
