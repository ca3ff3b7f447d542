// minilirra-skin-art --theme NAME --out PACKAGE: draws one of our skins and writes its package.
// minilirra-skin-art --theme NAME --icons DIR: writes the program's icon as DIR/SIZE.png.
// Run by the build (the default skin beside the programs, the tests' second skin); entries carry
// a fixed time so the same art gives the same bytes.
#include "skin/ui/art/SkinArt.h"

#include <QGuiApplication>

#include <zip.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage() {
  std::fprintf(stderr, "usage: minilirra-skin-art --theme default|paper (--out PACKAGE.zip | --icons DIR)\n");
  return 2;
}

bool WritePackage(const std::string& path, const std::map<std::string, QByteArray>& entries) {
  const std::string temporary = path + ".tmp";
  std::remove(temporary.c_str());
  int error = 0;
  zip_t* zip = zip_open(temporary.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!zip) {
    std::fprintf(stderr, "cannot create %s (libzip error %d)\n", temporary.c_str(), error);
    return false;
  }
  for (const auto& [name, bytes] : entries) {
    zip_source_t* source = zip_source_buffer(zip, bytes.constData(), zip_uint64_t(bytes.size()), 0);
    const zip_int64_t index = source ? zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0) {
      if (source) zip_source_free(source);
      std::fprintf(stderr, "cannot add %s: %s\n", name.c_str(), zip_strerror(zip));
      zip_discard(zip);
      return false;
    }
    zip_set_file_compression(zip, zip_uint64_t(index), ZIP_CM_DEFLATE, 9);
    zip_file_set_mtime(zip, zip_uint64_t(index), 315532800, 0);  // 1980-01-01, the format's first day
  }
  if (zip_close(zip) != 0) {
    std::fprintf(stderr, "cannot write %s: %s\n", temporary.c_str(), zip_strerror(zip));
    zip_discard(zip);
    return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::perror(path.c_str());
    return false;
  }
  return true;
}

// The sizes the desktop's icon themes look for.
bool WriteIcons(const std::string& folder, const ml::TSkinArtTheme& theme) {
  for (int size : {16, 32, 48, 64, 128, 256}) {
    const std::string path = folder + "/" + std::to_string(size) + ".png";
    const std::string temporary = path + ".tmp";
    if (!ml::DrawProgramIcon(theme, size).save(QString::fromStdString(temporary), "PNG") ||
        std::rename(temporary.c_str(), path.c_str()) != 0) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QString theme;
  std::string out, icons;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--theme") == 0)
      theme = argv[i + 1];
    else if (std::strcmp(argv[i], "--out") == 0)
      out = argv[i + 1];
    else if (std::strcmp(argv[i], "--icons") == 0)
      icons = argv[i + 1];
    else
      return Usage();
  }
  if (argc % 2 == 0 || theme.isEmpty() || out.empty() == icons.empty()) return Usage();
  // Drawing needs no screen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const ml::TSkinArtTheme t = ml::SkinArtTheme(theme);
  if (t.Name.isEmpty()) {
    std::fprintf(stderr, "unknown theme %s (default, paper)\n", qPrintable(theme));
    return 2;
  }
  if (!icons.empty()) return WriteIcons(icons, t) ? 0 : 1;
  return WritePackage(out, ml::DrawSkinPackage(t)) ? 0 : 1;
}
