// Reading back what the PDF print target wrote, with the poppler tools:
// the text of a PDF (UTF-8, in reading order) and a page as a PNG.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>


namespace testing_support {

inline std::string readFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The text of the PDF as pdftotext lays it out (UTF-8); empty when the tool fails.
inline std::string pdfText(const std::filesystem::path& pdf) {
  const std::filesystem::path out = pdf.string() + ".txt";
  const std::string command = "pdftotext -layout -enc UTF-8 '" + pdf.string() + "' '" + out.string() + "'";
  if (std::system(command.c_str()) != 0) return std::string();
  return readFileBytes(out);
}

// Renders the first page at the resolution given; the PNG's path, empty on failure.
inline std::filesystem::path pdfPage(const std::filesystem::path& pdf, int dotsPerInch) {
  const std::filesystem::path stem = pdf.parent_path() / pdf.stem();
  const std::string command = "pdftoppm -r " + std::to_string(dotsPerInch) + " -png -singlefile '" + pdf.string() +
                              "' '" + stem.string() + "'";
  if (std::system(command.c_str()) != 0) return std::filesystem::path();
  return stem.string() + ".png";
}

}  // namespace testing_support
