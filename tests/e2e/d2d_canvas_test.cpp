// The Direct2D canvas drawn into a memory bitmap and read back pixel by pixel.
#include "win32/d2d_canvas.h"

#include <gtest/gtest.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <tuple>
#include <vector>

namespace tessivo {
namespace {

using Microsoft::WRL::ComPtr;
constexpr int kSize = 64;

constexpr Rgba kBack = kChartBackground, kRead = brushColour(Brush::ReadLine);
constexpr Rgba kWrite = brushColour(Brush::WriteLine), kBorder = brushColour(Brush::PanelBorder);
constexpr Rgba kText = brushColour(Brush::TableText);

struct Com {
  HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ~Com() { CoUninitialize(); }
};

TEST(D2dCanvas, EachCallDrawsWhereAndInTheColourAskedAndNothingWithoutItsBrushOrFormat) {
  const Com com;  // released last
  ComPtr<IWICImagingFactory> wic;
  ComPtr<IWICBitmap> bitmap;
  ComPtr<ID2D1Factory> factory;
  ComPtr<ID2D1RenderTarget> target;
  ComPtr<IDWriteFactory> dwrite;
  const auto pixelFormat = D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED);
  const auto properties = D2D1::RenderTargetProperties(D2D1_RENDER_TARGET_TYPE_DEFAULT, pixelFormat);
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
  OwnedBrushes brushes;
  OwnedFormats formats;
  createChartBrushes(*target.Get(), brushes);
  createChartTextFormats(*dwrite.Get(), formats);
  BrushTable brushTable = borrow(brushes);
  FormatTable formatTable = borrow(formats);
  std::uint8_t pixels[kSize * kSize * 4] = {};
  const auto is = [&](int x, int y, Rgba c) {  // stored blue, green, red, alpha
    const std::uint8_t* p = pixels + (y * kSize + x) * 4;
    return std::abs(p[2] - c.r) <= 2 && std::abs(p[1] - c.g) <= 2 && std::abs(p[0] - c.b) <= 2;
  };

  const PointF triangle[] = {{0, 0}, {30, 0}, {0, 30}}, corner[] = {{34, 30}, {60, 30}, {60, 4}};
  // Equal speeds give a row of points on one line, some repeated: the stroke ends at the last.
  const PointF flat[] = {{8, 45}, {16, 45}, {16, 45}, {24, 45}, {32, 45}, {40, 45}};
  const PointF back[] = {{8, 56}, {40, 56}, {24, 56}};  // a turning point stays
  const RECT all{0, 0, 64, 64}, none{};
  const auto text = [](const char16_t* t, TextFormat format, TextAlign align, ParagraphAlign paragraph) {
    return [=](Canvas& c) { c.text(t, format, align, paragraph, {0, 0, 64, 64}, Brush::TableText); };
  };
  const struct {
    const char* what;
    RECT inkWithin;  // the inked box's first and last pixels lie in [left, right) x [top, bottom)
    std::vector<std::tuple<int, int, Rgba>> probes;  // x, y, colour
    std::function<void(Canvas&)> draw;
  } cases[] = {
      // A rectangle without its right and bottom edges, a circle without its box's corners,
      // rounded corners, a stroked rectangle not filled, a line.
      {"shapes", all,
       {{12, 12, kRead}, {4, 4, kRead}, {20, 20, kBack}, {2, 2, kBack}, {48, 12, kWrite}, {41, 5, kBack},
        {16, 44, kBorder}, {5, 29, kBack}, {48, 28, kText}, {48, 44, kBack}, {30, 62, kText}},
       [](Canvas& c) {
         c.fillRect({4, 4, 20, 20}, Brush::ReadLine);
         c.fillCircle({48, 12}, 8, Brush::WriteLine);
         c.fillRoundedRect({4, 28, 28, 60}, 8, 8, Brush::PanelBorder);
         c.strokeRoundedRect({36, 28, 60, 60}, 4, 4, Brush::TableText, 2);
         c.line({0, 62}, {63, 62}, Brush::TableText, 2);
       }},
      // A polygon closed and filled, a polyline open and hollow, straight runs ending where they end.
      {"paths", all,
       {{5, 5, kWrite}, {25, 25, kBack}, {47, 30, kText}, {60, 17, kText}, {47, 17, kBack}, {55, 25, kBack},
        {20, 45, kWrite}, {39, 45, kWrite}, {42, 45, kBack}, {63, 45, kBack}, {36, 56, kRead}},
       [&](Canvas& c) {
         EXPECT_TRUE(c.fillPolygon(triangle, Brush::WriteLine));
         EXPECT_TRUE(c.strokePolyline(corner, Brush::TableText, 3));
         EXPECT_TRUE(c.strokePolyline(flat, Brush::WriteLine, 2));
         EXPECT_TRUE(c.strokePolyline(back, Brush::ReadLine, 2));
       }},
      // One format aligned differently by consecutive calls: each call sets its own.
      {"text at the far corner", {32, 32, 64, 64}, {},
       text(u"WW", TextFormat::Label, TextAlign::Trailing, ParagraphAlign::Far)},
      {"text at the near corner", {0, 0, 32, 32}, {},
       text(u"WW", TextFormat::Label, TextAlign::Leading, ParagraphAlign::Near)},
      {"text in the middle", {17, 17, 48, 48}, {},
       text(u"W", TextFormat::Header, TextAlign::Center, ParagraphAlign::Center)},
      {"no points, or no brush or format: nothing", none, {}, [&](Canvas& c) {  // last: the tables stay so
         EXPECT_FALSE(c.fillPolygon({}, Brush::WriteLine));
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
    target->BeginDraw();  // one frame on the chart's background, read back
    D2dCanvas canvas(*target.Get(), *factory.Get(), brushTable, formatTable);
    canvas.clear(kBack);
    c.draw(canvas);
    ASSERT_TRUE(SUCCEEDED(target->EndDraw()));
    const WICRect whole{0, 0, kSize, kSize};
    ASSERT_TRUE(SUCCEEDED(bitmap->CopyPixels(&whole, kSize * 4, kSize * kSize * 4, pixels)));
    for (const auto& [x, y, colour] : c.probes) EXPECT_TRUE(is(x, y, colour)) << x << ',' << y;
    RECT box{kSize, kSize, -1, -1};  // the first and last columns and rows holding anything but background
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x)
        if (!is(x, y, kBack))
          box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x),
                 std::max<LONG>(box.bottom, y)};
    const RECT w = c.inkWithin;
    const bool nothing = box.right < 0;
    EXPECT_EQ(nothing, IsRectEmpty(&w) != FALSE) << "whether anything was drawn";
    EXPECT_TRUE(nothing ||
                (box.left >= w.left && box.top >= w.top && box.right < w.right && box.bottom < w.bottom))
        << box.left << ',' << box.top << " to " << box.right << ',' << box.bottom;
  }
}

}  // namespace
}  // namespace tessivo
