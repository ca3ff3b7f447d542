#include "tests/support/TestSupport.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace mltest {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "mltest-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string TinyWav(const std::string& payload) {
  std::string data = payload;
  if (data.size() % 2) data.push_back('\0');
  auto u32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  auto u16 = [](uint16_t v) { return std::string{char(v), char(v >> 8)}; };
  const uint32_t rate = 8000;
  return "RIFF" + u32(uint32_t(36 + data.size())) + "WAVE" + "fmt " + u32(16) + u16(1) + u16(1) + u32(rate) +
         u32(rate * 2) + u16(2) + u16(16) + "data" + u32(uint32_t(data.size())) + data;
}

std::string RunCapture(const std::string& command, int* exitCode) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("popen failed: " + command);
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) output.append(buf.data(), n);
  int status = pclose(pipe);
  if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

static std::string EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

std::string SourceDir() { return EnvOr("ML_SOURCE_DIR", ML_DEFAULT_SOURCE_DIR); }
std::string BinDir() { return EnvOr("ML_BIN_DIR", "."); }

}  // namespace mltest
