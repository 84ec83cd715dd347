// The Direct2D canvas drawn into a memory bitmap and read back pixel by pixel.
#include "win32/d2d_canvas.h"

#include <gtest/gtest.h>
#include <wincodec.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace tessivo {
namespace {

using Microsoft::WRL::ComPtr;

constexpr UINT kSize = 64;

struct Pixel {
  int r, g, b;
};

class BitmapTarget : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_PPV_ARGS(wic.GetAddressOf()))));
    ASSERT_TRUE(SUCCEEDED(wic->CreateBitmap(kSize, kSize, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad,
                                            bitmap.GetAddressOf())));
    ASSERT_TRUE(SUCCEEDED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, factory.GetAddressOf())));
    const auto properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_DEFAULT, D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED),
        96.0f, 96.0f);
    ASSERT_TRUE(SUCCEEDED(factory->CreateWicBitmapRenderTarget(bitmap.Get(), properties, target.GetAddressOf())));
    // Aliased edges, so that a pixel is either inside a shape or not.
    target->SetAntialiasMode(D2D1_ANTIALIAS_MODE_ALIASED);
    target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
    createChartBrushes(*target.Get(), brushes);
    ComPtr<IDWriteFactory> dwrite;
    ASSERT_TRUE(SUCCEEDED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                              reinterpret_cast<IUnknown**>(dwrite.GetAddressOf()))));
    createChartTextFormats(*dwrite.Get(), formats);
    brushTable = borrow(brushes);
    formatTable = borrow(formats);
  }

  void TearDown() override {
    formats = {};
    brushes = {};
    target.Reset();
    factory.Reset();
    bitmap.Reset();
    wic.Reset();
    CoUninitialize();
  }

  // Draws one frame on a background cleared to the chart's colour and reads it back.
  template <typename Draw>
  void frame(Draw&& draw) {
    target->BeginDraw();
    D2dCanvas canvas(*target.Get(), *factory.Get(), brushTable, formatTable);
    canvas.clear(kChartBackground);
    draw(canvas);
    ASSERT_TRUE(SUCCEEDED(target->EndDraw()));
    WICRect all{0, 0, static_cast<INT>(kSize), static_cast<INT>(kSize)};
    pixels.assign(kSize * kSize * 4, 0);
    ASSERT_TRUE(SUCCEEDED(bitmap->CopyPixels(&all, kSize * 4, static_cast<UINT>(pixels.size()), pixels.data())));
  }

  Pixel at(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * kSize + static_cast<std::size_t>(x)) * 4;
    return {pixels[i + 2], pixels[i + 1], pixels[i]};  // stored blue, green, red, alpha
  }

  static bool sameColour(Pixel p, Rgba c) {
    return std::abs(p.r - c.r) <= 2 && std::abs(p.g - c.g) <= 2 && std::abs(p.b - c.b) <= 2;
  }
  bool background(int x, int y) const { return sameColour(at(x, y), kChartBackground); }

  // Columns (or rows) of the bitmap in which anything but the background was drawn.
  int firstInkedColumn() const { return scan(true, false); }
  int lastInkedColumn() const { return scan(true, true); }
  int firstInkedRow() const { return scan(false, false); }
  int lastInkedRow() const { return scan(false, true); }

  ComPtr<IWICImagingFactory> wic;
  ComPtr<IWICBitmap> bitmap;
  ComPtr<ID2D1Factory> factory;
  ComPtr<ID2D1RenderTarget> target;
  OwnedBrushes brushes;
  OwnedFormats formats;
  BrushTable brushTable{};
  FormatTable formatTable{};
  std::vector<std::uint8_t> pixels;

 private:
  int scan(bool columns, bool fromEnd) const {
    const int n = static_cast<int>(kSize);
    for (int k = 0; k < n; ++k) {
      const int line = fromEnd ? n - 1 - k : k;
      for (int j = 0; j < n; ++j) {
        const bool inked = columns ? !background(line, j) : !background(j, line);
        if (inked) return line;
      }
    }
    return -1;
  }
};

TEST_F(BitmapTarget, ShapesLandWhereAndInTheColourAsked) {
  frame([](Canvas& c) { c.fillRect({10, 10, 30, 30}, Brush::ReadLine); });
  EXPECT_TRUE(sameColour(at(20, 20), brushColour(Brush::ReadLine)));
  EXPECT_TRUE(sameColour(at(10, 10), brushColour(Brush::ReadLine)));
  EXPECT_TRUE(background(30, 30)) << "the right and bottom edges are exclusive";
  EXPECT_TRUE(background(5, 5));

  frame([](Canvas& c) {
    c.fillCircle({32, 32}, 10, Brush::WriteLine);
    c.line({0, 60}, {63, 60}, Brush::TableText, 2);
  });
  EXPECT_TRUE(sameColour(at(32, 32), brushColour(Brush::WriteLine)));
  EXPECT_TRUE(background(24, 24)) << "the corner of the circle's box is outside the circle";
  EXPECT_TRUE(sameColour(at(30, 60), brushColour(Brush::TableText)));

  frame([](Canvas& c) { c.fillRoundedRect({8, 8, 56, 56}, 12, 12, Brush::PanelBorder); });
  EXPECT_TRUE(sameColour(at(32, 32), brushColour(Brush::PanelBorder)));
  EXPECT_TRUE(background(9, 9)) << "the corners are rounded";

  frame([](Canvas& c) { c.strokeRoundedRect({8, 8, 56, 56}, 4, 4, Brush::TableText, 2); });
  EXPECT_TRUE(sameColour(at(32, 8), brushColour(Brush::TableText)));
  EXPECT_TRUE(background(32, 32)) << "a stroked rectangle is not filled";
}

TEST_F(BitmapTarget, PolygonsAreClosedAndFilledPolylinesOpenAndHollow) {
  bool made = false;
  frame([&made](Canvas& c) {
    const PointF triangle[] = {{0, 0}, {60, 0}, {0, 60}};
    made = c.fillPolygon(triangle, Brush::WriteLine);
  });
  EXPECT_TRUE(made);
  EXPECT_TRUE(sameColour(at(10, 10), brushColour(Brush::WriteLine)));
  EXPECT_TRUE(background(50, 50));

  frame([&made](Canvas& c) {
    const PointF corner[] = {{10, 50}, {50, 50}, {50, 10}};
    made = c.strokePolyline(corner, Brush::TableText, 3);
  });
  EXPECT_TRUE(made);
  EXPECT_TRUE(sameColour(at(30, 50), brushColour(Brush::TableText)));
  EXPECT_TRUE(sameColour(at(50, 30), brushColour(Brush::TableText)));
  EXPECT_TRUE(background(30, 30)) << "an open figure has no closing edge";
  EXPECT_TRUE(background(45, 45)) << "a hollow figure is not filled";

  frame([&made](Canvas& c) { made = c.fillPolygon({}, Brush::WriteLine); });
  EXPECT_FALSE(made);
}

TEST_F(BitmapTarget, StraightRunsOfPointsEndWhereTheyEnd) {
  // A series of equal speeds is a row of points on one horizontal line, some repeated; the
  // stroke must stop at the last point, not overshoot it.
  frame([](Canvas& c) {
    const PointF flat[] = {{8, 30}, {16, 30}, {16, 30}, {24, 30}, {32, 30}, {40, 30}};
    EXPECT_TRUE(c.strokePolyline(flat, Brush::WriteLine, 2));
    const PointF back[] = {{8, 50}, {40, 50}, {24, 50}};  // the turning point must stay
    EXPECT_TRUE(c.strokePolyline(back, Brush::ReadLine, 2));
  });
  EXPECT_TRUE(sameColour(at(20, 30), brushColour(Brush::WriteLine)));
  EXPECT_TRUE(sameColour(at(39, 30), brushColour(Brush::WriteLine)));
  for (int x = 42; x < 64; ++x) EXPECT_TRUE(background(x, 30)) << x;
  EXPECT_TRUE(sameColour(at(36, 50), brushColour(Brush::ReadLine))) << "the turning point was dropped";
}

TEST_F(BitmapTarget, TextFollowsTheAlignmentsOfEachCall) {
  ASSERT_TRUE(formatTable[static_cast<std::size_t>(TextFormat::Label)] != nullptr);
  // The same format, aligned differently by consecutive calls: each call sets its own.
  frame([](Canvas& c) { c.text(u"WW", TextFormat::Label, TextAlign::Trailing, ParagraphAlign::Far, {0, 0, 64, 64}, Brush::TableText); });
  ASSERT_GE(firstInkedColumn(), 0) << "no text was drawn";
  EXPECT_GE(firstInkedColumn(), 32);
  EXPECT_GE(firstInkedRow(), 32);

  frame([](Canvas& c) { c.text(u"WW", TextFormat::Label, TextAlign::Leading, ParagraphAlign::Near, {0, 0, 64, 64}, Brush::TableText); });
  ASSERT_GE(lastInkedColumn(), 0);
  EXPECT_LT(lastInkedColumn(), 32);
  EXPECT_LT(lastInkedRow(), 32);

  frame([](Canvas& c) { c.text(u"W", TextFormat::Header, TextAlign::Center, ParagraphAlign::Center, {0, 0, 64, 64}, Brush::TableText); });
  ASSERT_GE(firstInkedColumn(), 0);
  EXPECT_GT(firstInkedColumn(), 16);
  EXPECT_LT(lastInkedColumn(), 48);
  EXPECT_GT(firstInkedRow(), 16);
  EXPECT_LT(lastInkedRow(), 48);
}

TEST_F(BitmapTarget, MissingBrushesAndFormatsDrawNothing) {
  brushTable[static_cast<std::size_t>(Brush::Hint)] = nullptr;
  formatTable[static_cast<std::size_t>(TextFormat::Mono)] = nullptr;
  bool made = true;
  frame([&made](Canvas& c) {
    EXPECT_FALSE(c.hasFormat(TextFormat::Mono));
    EXPECT_TRUE(c.hasFormat(TextFormat::Label));
    c.fillRect({0, 0, 64, 64}, Brush::Hint);
    c.text(u"WWWW", TextFormat::Mono, TextAlign::Leading, ParagraphAlign::Near, {0, 0, 64, 64}, Brush::TableText);
    c.text(u"WWWW", TextFormat::Label, TextAlign::Leading, ParagraphAlign::Near, {0, 0, 64, 64}, Brush::Hint);
    const PointF triangle[] = {{0, 0}, {60, 0}, {0, 60}};
    made = c.fillPolygon(triangle, Brush::Hint);
  });
  EXPECT_FALSE(made);
  EXPECT_EQ(firstInkedColumn(), -1) << "something was drawn without its brush or format";
}

}  // namespace
}  // namespace tessivo
