#include "app/paint_scene.h"

#include "app/button_colors.h"
#include "app/display_text.h"
#include "app/palette.h"
#include "app/window_layout.h"

namespace ostrevane {
namespace {

using namespace palette;

constexpr int kCardRadius = 14;
constexpr int kSidebarCardRadius = 12;
constexpr int kButtonRadius = 8;
constexpr int kPageLeft = 360;   // left edge of the page cards and the tab band
constexpr int kTextLeft = 382;   // left edge of page titles and labels

void AddText(PaintScene& scene, PaintRect rect, std::wstring text, FontRole font, std::uint32_t color,
             std::uint32_t format = kSingleLineFormat) {
    scene.push_back(TextItem{rect, std::move(text), font, color, format});
}

void AddCard(PaintScene& scene, PaintRect rect) {
    scene.push_back(RoundedItem{rect, kCardRadius, kCardFill, kCardOutline});
}

void AddSidebar(PaintScene& scene, const PaintModel& model) {
    AddText(scene, {18, 22, 328, 66}, L"Ostrevane.Client", FontRole::Title, kPrimaryText);
    AddText(scene, {18, 80, 328, 112}, L"工程师远程调试", FontRole::Body, kSecondaryText);

    const ConnectionStatusText status = DescribeConnection(model);
    AddCard(scene, kConnectionCard);
    scene.push_back(DotItem{{38, 162, 50, 174}, status.online ? kStatusDotOnline : kStatusDotOther});
    AddText(scene, {60, 145, 306, 184}, status.pill, FontRole::Heading, kPrimaryText);
    AddText(scene, {38, 188, 308, 244}, status.detail, FontRole::Body, kSecondaryText, kWrappedFormat);

    struct InfoCard {
        int top;
        const wchar_t* label;
        std::wstring value;
    };
    const InfoCard cards[] = {
        {280, L"设备", model.deviceNumber.empty() ? L"等待密钥" : ShortenForDisplay(model.deviceNumber, 24)},
        {364, L"组网 IP", model.assignedAddress.empty() ? L"未连接" : ShortenForDisplay(model.assignedAddress, 28)},
        {448, L"运行库", L"软件隧道已就绪"},
    };
    for (const InfoCard& card : cards) {
        scene.push_back(RoundedItem{{18, card.top, 318, card.top + 64}, kSidebarCardRadius, kSidebarCard, kSidebarCard});
        AddText(scene, {32, card.top + 8, 304, card.top + 28}, card.label, FontRole::Body, kSecondaryText);
        AddText(scene, {32, card.top + 31, 304, card.top + 58}, card.value, FontRole::Subheading, kPrimaryText);
    }
}

void AddTabs(PaintScene& scene, bool logPage) {
    AddText(scene, {360, 64, 422, 98}, L"连接", FontRole::Heading, logPage ? kInactiveTabText : kPrimaryText);
    const int underlineLeft = logPage ? 448 : 360;
    scene.push_back(LineItem{underlineLeft, 102, underlineLeft + 48, 102, 3, kTabUnderline});
    AddText(scene, {448, 64, 516, 98}, L"日志", FontRole::Heading, logPage ? kPrimaryText : kInactiveTabText);
}

void AddPageCards(PaintScene& scene, const PaintModel& model) {
    const int right = model.clientWidth - 28;
    const int textRight = right - 22;
    const int bottom = model.clientHeight;
    auto title = [&](int top, int bottomEdge, const wchar_t* text) {
        AddText(scene, {kTextLeft, top, textRight, bottomEdge}, text, FontRole::Heading, kPrimaryText);
    };
    auto label = [&](int top, const wchar_t* text) {
        AddText(scene, {kTextLeft, top, textRight, top + 26}, text, FontRole::Subheading, kSecondaryText);
    };

    if (model.selectedPage == 1) {
        AddCard(scene, {kPageLeft, 116, right, bottom - 26});
        title(138, 174, L"日志");
        return;
    }
    // The cards, titles and labels follow the controls when a short window compresses the layout.
    const auto at = [&model](int fullY) { return LayoutY(fullY, model.clientHeight); };
    AddCard(scene, {kPageLeft, at(116), right, at(466)});
    title(at(138), at(178), L"远程连接");
    label(at(190), L"接入密钥");
    label(at(300), L"目标网段");
    label(at(378), L"通讯测试 IP");

    AddCard(scene, {kPageLeft, at(486), right, at(716)});
    title(at(508), at(548), L"档案");
    label(at(560), L"档案名称");
    label(at(638), L"已保存档案");

    const int logTop = StatusCardTop(model.clientHeight);  // the card frames the status line
    AddCard(scene, {kPageLeft, logTop, right, StatusCardBottom(model.clientHeight)});
    title(logTop + 18, logTop + 50, L"日志");
}

}  // namespace

ConnectionStatusText DescribeConnection(const PaintModel& model) {
    if (model.running && model.relayConnected) {
        const std::wstring& networks = model.routesText.empty() ? model.targetNetwork : model.routesText;
        return {true, L"在线", L"目标网段 " + ShortenForDisplay(networks, 30)};
    }
    if (model.running) {
        return {false, L"未连接", L"软件隧道正在自动重连"};
    }
    return {false, L"未连接", L"粘贴现场端密钥即可连接"};
}

PaintScene BuildMainWindowScene(const PaintModel& model) {
    PaintScene scene;
    scene.push_back(FillItem{{0, 0, model.clientWidth, model.clientHeight}, kWindowBackground});
    AddSidebar(scene, model);
    AddTabs(scene, model.selectedPage == 1);
    AddPageCards(scene, model);
    return scene;
}

PaintScene BuildButtonScene(const PaintRect& item, unsigned controlId, bool disabled, bool pressed,
                            const std::wstring& text) {
    const ButtonColors colors = ButtonColorsFor(controlId, disabled, pressed);
    PaintScene scene;
    scene.push_back(FillItem{item, kCardFill});  // the rounded corners sit on the card
    scene.push_back(RoundedItem{item, kButtonRadius, colors.fill, colors.outline});
    AddText(scene, {item.left + 10, item.top + 2, item.right - 10, item.bottom - 2}, text, FontRole::Button,
            colors.text, kCenteredFormat);
    return scene;
}

}  // namespace ostrevane
