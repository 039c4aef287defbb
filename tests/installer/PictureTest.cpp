// The agreement page as a person sees it: the renderer wraps the notice's
// memo as the memo does, so the whole notice shows.
#include "InstallerFixture.h"

#include <cairo.h>

#include <filesystem>
#include <set>

namespace setuptest {
namespace {

class Picture : public Installer, public ::testing::WithParamInterface<const char*> {};

// Rows of the picture, inside the notice's memo, that hold red (the notice's
// colour) ink.
std::set<int> RedRows(const std::string& png, int left, int top, int width, int height) {
  std::set<int> rows;
  cairo_surface_t* surface = cairo_image_surface_create_from_png(png.c_str());
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return rows;
  }
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = top; y < top + height && y < cairo_image_surface_get_height(surface); ++y)
    for (int x = left; x < left + width && x < cairo_image_surface_get_width(surface); ++x) {
      const uint32_t pixel = *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
      const int r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
      if (r > 160 && g < 120 && b < 120) rows.insert(y);
    }
  cairo_surface_destroy(surface);
  return rows;
}

TEST_P(Picture, NoticeWrapsWithinItsMemo) {
  Machine(kWin98, GetParam());
  Create();
  const std::string png =
      (std::filesystem::temp_directory_path() / ("vqusbsetup-agreement-" + std::to_string(getpid()) + ".png")).string();
  Run("click lblYes\nwait 1500\nrender LicenseForm " + png + "\nclick NoBtn\n");
  int l, t, r, b;
  LicenseForm->GetFrame(l, t, r, b);
  TMemo* memo = LicenseForm->Memo3;
  const std::set<int> rows = RedRows(png, l + memo->Left, t + memo->Top, memo->Width, memo->Height);
  std::remove(png.c_str());
  ASSERT_FALSE(rows.empty());
  // Two rows of text, 14 pixels apart (the 11-pixel font's line): the part
  // that does not fit the first row shows in the second, not cut off.
  EXPECT_GE(*rows.rbegin() - *rows.begin(), 14);
  EXPECT_LT(*rows.rbegin() - *rows.begin(), 3 * 14);
}

INSTANTIATE_TEST_SUITE_P(Languages, Picture, ::testing::Values(kEnglish, kTaiwan),
                         [](const auto& info) { return info.index == 0 ? "English" : "Chinese"; });

}  // namespace
}  // namespace setuptest
