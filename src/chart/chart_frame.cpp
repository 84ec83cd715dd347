// PLACEHOLDER: replaced by the real frame drawing.
#include "chart/chart_frame.h"

#include "chart/speed_chart.h"

namespace tessivo {

void SpeedChart::paint(Canvas& canvas, float, float) const { canvas.clear(kChartBackground); }
void SpeedChart::drawSeries(Canvas&, bool, const FrameGeometry&) const {}
void SpeedChart::drawHeader(Canvas&, float, float, const FrameGeometry&) const {}
void SpeedChart::drawSharePanel(Canvas&, std::int32_t, float, float, float, float) const {}

}  // namespace tessivo
