// The Direct2D canvas drawn into a memory bitmap and read back pixel by pixel.
#include "win32/d2d_canvas.h"

#include <gtest/gtest.h>
#include <wincodec.h>

#include <cstdlib>
#include <functional>
#include <vector>

namespace tessivo {
namespace {

using Microsoft::WRL::ComPtr;
constexpr int kSize = 64;

class D2dCanvasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ComPtr<IDWriteFactory> dwrite;
    const auto properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_DEFAULT,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED));
    ASSERT_TRUE(
        SUCCEEDED(com.result) &&
        SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(wic.GetAddressOf()))) &&
        SUCCEEDED(wic->CreateBitmap(kSize, kSize, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad,
                                    bitmap.GetAddressOf())) &&
        SUCCEEDED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, factory.GetAddressOf())) &&
        SUCCEEDED(factory->CreateWicBitmapRenderTarget(bitmap.Get(), properties, target.GetAddressOf())) &&
        SUCCEEDED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                      reinterpret_cast<IUnknown**>(dwrite.GetAddressOf()))));
    target->SetAntialiasMode(D2D1_ANTIALIAS_MODE_ALIASED);  // a pixel is either inside a shape or not
    target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
    createChartBrushes(*target.Get(), brushes);
    createChartTextFormats(*dwrite.Get(), formats);
    brushTable = borrow(brushes);
    formatTable = borrow(formats);
  }

  // Draws one frame on the chart's background and reads it back.
  void frame(const std::function<void(Canvas&)>& draw) {
    target->BeginDraw();
    D2dCanvas canvas(*target.Get(), *factory.Get(), brushTable, formatTable);
    canvas.clear(kChartBackground);
    draw(canvas);
    ASSERT_TRUE(SUCCEEDED(target->EndDraw()));
    const WICRect all{0, 0, kSize, kSize};
    ASSERT_TRUE(SUCCEEDED(bitmap->CopyPixels(&all, kSize * 4, kSize * kSize * 4, pixels)));
  }
  bool is(int x, int y, Rgba c) const {  // stored blue, green, red, alpha
    const std::uint8_t* p = pixels + (y * kSize + x) * 4;
    return std::abs(p[2] - c.r) <= 2 && std::abs(p[1] - c.g) <= 2 && std::abs(p[0] - c.b) <= 2;
  }
  RECT inked() const {  // the first and last columns and rows holding anything but background
    RECT box{kSize, kSize, -1, -1};
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x)
        if (!is(x, y, kChartBackground))
          box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x),
                 std::max<LONG>(box.bottom, y)};
    return box;
  }

  struct Com {
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~Com() { CoUninitialize(); }
  } com;  // released last
  ComPtr<IWICImagingFactory> wic;
  ComPtr<IWICBitmap> bitmap;
  ComPtr<ID2D1Factory> factory;
  ComPtr<ID2D1RenderTarget> target;
  OwnedBrushes brushes;
  OwnedFormats formats;
  BrushTable brushTable{};
  FormatTable formatTable{};
  std::uint8_t pixels[kSize * kSize * 4] = {};
};

Rgba colour(char code) {  // of a probe: '.' the background, else the brush's initial
  const Brush brush = code == 'R'   ? Brush::ReadLine
                      : code == 'W' ? Brush::WriteLine
                      : code == 'P' ? Brush::PanelBorder
                                    : Brush::TableText;
  return code == '.' ? kChartBackground : brushColour(brush);
}

TEST_F(D2dCanvasTest, EachCallDrawsWhereAndInTheColourAskedAndNothingWithoutItsBrushOrFormat) {
  struct Probe {
    int x, y;
    char colour;
  };
  const PointF triangle[] = {{0, 0}, {60, 0}, {0, 60}}, corner[] = {{10, 50}, {50, 50}, {50, 10}};
  // Equal speeds give a row of points on one line, some repeated: the stroke ends at the last.
  const PointF flat[] = {{8, 30}, {16, 30}, {16, 30}, {24, 30}, {32, 30}, {40, 30}};
  const PointF back[] = {{8, 50}, {40, 50}, {24, 50}};
  const RECT all{0, 0, 64, 64}, none{};
  const auto text = [](const char16_t* t, TextFormat format, TextAlign align, ParagraphAlign paragraph) {
    return [=](Canvas& c) { c.text(t, format, align, paragraph, {0, 0, 64, 64}, Brush::TableText); };
  };
  const struct {
    const char* what;
    RECT inkWithin;  // the inked box's first and last pixels lie in [left, right) x [top, bottom)
    std::vector<Probe> probes;
    std::function<void(Canvas&)> draw;
  } cases[] = {
      {"a rectangle, its right and bottom edges exclusive", all,
       {{20, 20, 'R'}, {10, 10, 'R'}, {30, 30, '.'}, {5, 5, '.'}},
       [](Canvas& c) { c.fillRect({10, 10, 30, 30}, Brush::ReadLine); }},
      {"a circle, not its box's corner; a line", all, {{32, 32, 'W'}, {24, 24, '.'}, {30, 60, 'T'}},
       [](Canvas& c) {
         c.fillCircle({32, 32}, 10, Brush::WriteLine);
         c.line({0, 60}, {63, 60}, Brush::TableText, 2);
       }},
      {"rounded corners", all, {{32, 32, 'P'}, {9, 9, '.'}},
       [](Canvas& c) { c.fillRoundedRect({8, 8, 56, 56}, 12, 12, Brush::PanelBorder); }},
      {"a stroked rectangle is not filled", all, {{32, 8, 'T'}, {32, 32, '.'}},
       [](Canvas& c) { c.strokeRoundedRect({8, 8, 56, 56}, 4, 4, Brush::TableText, 2); }},
      {"a polygon is closed and filled", all, {{10, 10, 'W'}, {50, 50, '.'}},
       [&](Canvas& c) { EXPECT_TRUE(c.fillPolygon(triangle, Brush::WriteLine)); }},
      {"a polyline is open and hollow", all, {{30, 50, 'T'}, {50, 30, 'T'}, {30, 30, '.'}, {45, 45, '.'}},
       [&](Canvas& c) { EXPECT_TRUE(c.strokePolyline(corner, Brush::TableText, 3)); }},
      {"straight runs end where they end; a turning point stays", all,
       {{20, 30, 'W'}, {39, 30, 'W'}, {42, 30, '.'}, {63, 30, '.'}, {36, 50, 'R'}},
       [&](Canvas& c) {
         EXPECT_TRUE(c.strokePolyline(flat, Brush::WriteLine, 2));
         EXPECT_TRUE(c.strokePolyline(back, Brush::ReadLine, 2));
       }},
      {"no points, no polygon", none, {},
       [](Canvas& c) { EXPECT_FALSE(c.fillPolygon({}, Brush::WriteLine)); }},
      // One format aligned differently by consecutive calls: each call sets its own.
      {"text at the far corner", {32, 32, 64, 64}, {},
       text(u"WW", TextFormat::Label, TextAlign::Trailing, ParagraphAlign::Far)},
      {"text at the near corner", {0, 0, 32, 32}, {},
       text(u"WW", TextFormat::Label, TextAlign::Leading, ParagraphAlign::Near)},
      {"text in the middle", {17, 17, 48, 48}, {},
       text(u"W", TextFormat::Header, TextAlign::Center, ParagraphAlign::Center)},
      {"without its brush or format, nothing", none, {}, [&](Canvas& c) {  // last: the tables stay so
         brushTable[static_cast<std::size_t>(Brush::Hint)] = nullptr;
         formatTable[static_cast<std::size_t>(TextFormat::Mono)] = nullptr;
         EXPECT_TRUE(!c.hasFormat(TextFormat::Mono) && c.hasFormat(TextFormat::Label));
         c.fillRect({0, 0, 64, 64}, Brush::Hint);
         const RectF box{0, 0, 64, 64};
         c.text(u"WW", TextFormat::Mono, TextAlign::Leading, ParagraphAlign::Near, box, Brush::TableText);
         c.text(u"WW", TextFormat::Label, TextAlign::Leading, ParagraphAlign::Near, box, Brush::Hint);
         EXPECT_FALSE(c.fillPolygon(triangle, Brush::Hint));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    frame(c.draw);
    for (const Probe& p : c.probes) EXPECT_TRUE(is(p.x, p.y, colour(p.colour))) << p.x << ',' << p.y;
    const RECT box = inked(), w = c.inkWithin;
    const bool nothing = box.right < 0;
    EXPECT_EQ(nothing, IsRectEmpty(&w) != FALSE) << "whether anything was drawn";
    EXPECT_TRUE(nothing ||
                (box.left >= w.left && box.top >= w.top && box.right < w.right && box.bottom < w.bottom))
        << box.left << ',' << box.top << " to " << box.right << ',' << box.bottom;
  }
}

}  // namespace
}  // namespace tessivo
