#include "app/paint_scene.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/control_table.h"
#include "app/palette.h"
#include "app/window_layout.h"

namespace ostrevane {
namespace {

using namespace palette;
using namespace control_id;

PaintModel Model(int width = 1204, int height = 821, std::uint8_t page = 0) {
    PaintModel model;
    model.clientWidth = width;
    model.clientHeight = height;
    model.selectedPage = page;
    model.targetNetwork = L"192.168.1.0/24";
    return model;
}

template <typename Item>
std::vector<Item> ItemsOf(const PaintScene& scene) {
    std::vector<Item> items;
    for (const PaintItem& item : scene) {
        if (const auto* typed = std::get_if<Item>(&item)) {
            items.push_back(*typed);
        }
    }
    return items;
}

// The one text item drawn in this rectangle.
TextItem TextAt(const PaintScene& scene, PaintRect rect) {
    std::vector<TextItem> found;
    for (const TextItem& text : ItemsOf<TextItem>(scene)) {
        if (text.rect == rect) {
            found.push_back(text);
        }
    }
    EXPECT_EQ(found.size(), 1u) << "texts at " << rect.left << "," << rect.top;
    return found.empty() ? TextItem{} : found.front();
}

std::vector<PaintRect> PageCards(const PaintScene& scene) {
    std::vector<PaintRect> cards;
    for (const RoundedItem& shape : ItemsOf<RoundedItem>(scene)) {
        if (shape.rect.left == 360) {
            EXPECT_EQ(shape.radius, 14);
            EXPECT_EQ(shape.fill, kCardFill);
            EXPECT_EQ(shape.outline, kCardOutline);
            cards.push_back(shape.rect);
        }
    }
    return cards;
}

constexpr PaintRect kPill{60, 145, 306, 184};
constexpr PaintRect kDetail{38, 188, 308, 244};

TEST(ConnectionStatus, StoppedEngineIsNotConnectedWithThePasteHint) {
    const ConnectionStatusText status = DescribeConnection(Model());
    EXPECT_FALSE(status.online);
    EXPECT_EQ(status.pill, L"未连接");
    EXPECT_EQ(status.detail, L"粘贴现场端密钥即可连接");
}

TEST(ConnectionStatus, RunningWithoutRelayIsReconnecting) {
    PaintModel model = Model();
    model.running = true;
    const ConnectionStatusText status = DescribeConnection(model);
    EXPECT_FALSE(status.online);
    EXPECT_EQ(status.pill, L"未连接");
    EXPECT_EQ(status.detail, L"软件隧道正在自动重连");
}

TEST(ConnectionStatus, RelayWithoutRunningEngineIsNotOnline) {
    PaintModel model = Model();
    model.relayConnected = true;
    EXPECT_FALSE(DescribeConnection(model).online);
    EXPECT_EQ(DescribeConnection(model).detail, L"粘贴现场端密钥即可连接");
}

TEST(ConnectionStatus, OnlineShowsTheFirstRouteLine) {
    PaintModel model = Model();
    model.running = true;
    model.relayConnected = true;
    model.routesText = L"192.168.1.0/24\r\n10.20.0.0/16";
    const ConnectionStatusText status = DescribeConnection(model);
    EXPECT_TRUE(status.online);
    EXPECT_EQ(status.pill, L"在线");
    EXPECT_EQ(status.detail, L"目标网段 192.168.1.0/24");
}

TEST(ConnectionStatus, OnlineWithoutRoutesShowsTheTargetNetworkCutAt30) {
    PaintModel model = Model();
    model.running = true;
    model.relayConnected = true;
    model.targetNetwork = L"ALL";
    EXPECT_EQ(DescribeConnection(model).detail, L"目标网段 ALL");
    model.routesText = L"172.16.100.0/24,172.16.101.0/24\r\n10.0.0.0/8";
    EXPECT_EQ(DescribeConnection(model).detail, L"目标网段 172.16.100.0/24,172.16.101....");
}

TEST(Sidebar, StatusCardDotAndTextsFollowTheConnection) {
    PaintModel model = Model();
    PaintScene scene = BuildMainWindowScene(model);
    std::vector<DotItem> dots = ItemsOf<DotItem>(scene);
    ASSERT_EQ(dots.size(), 1u);
    EXPECT_EQ(dots[0].rect, (PaintRect{38, 162, 50, 174}));
    EXPECT_EQ(dots[0].fill, kStatusDotOther);
    EXPECT_EQ(TextAt(scene, kPill).text, L"未连接");
    EXPECT_EQ(TextAt(scene, kPill).font, FontRole::Heading);
    EXPECT_EQ(TextAt(scene, kDetail).text, L"粘贴现场端密钥即可连接");
    EXPECT_EQ(TextAt(scene, kDetail).format, kWrappedFormat);
    EXPECT_EQ(TextAt(scene, kDetail).color, kSecondaryText);

    model.running = true;
    model.relayConnected = true;
    scene = BuildMainWindowScene(model);
    EXPECT_EQ(ItemsOf<DotItem>(scene).at(0).fill, kStatusDotOnline);
    EXPECT_EQ(TextAt(scene, kPill).text, L"在线");
    EXPECT_EQ(TextAt(scene, kDetail).text, L"目标网段 192.168.1.0/24");

    const std::vector<RoundedItem> shapes = ItemsOf<RoundedItem>(scene);
    ASSERT_FALSE(shapes.empty());
    EXPECT_EQ(shapes[0].rect, (PaintRect{18, 132, 328, 252}));
    EXPECT_EQ(shapes[0].radius, 14);
    EXPECT_EQ(shapes[0].fill, kCardFill);
    EXPECT_EQ(shapes[0].outline, kCardOutline);
}

TEST(Sidebar, TitleAndSubtitle) {
    const PaintScene scene = BuildMainWindowScene(Model());
    const TextItem title = TextAt(scene, {18, 22, 328, 66});
    EXPECT_EQ(title.text, L"Ostrevane.Client");
    EXPECT_EQ(title.font, FontRole::Title);
    EXPECT_EQ(title.color, kPrimaryText);
    EXPECT_EQ(title.format, kSingleLineFormat);
    EXPECT_EQ(TextAt(scene, {18, 80, 328, 112}).text, L"工程师远程调试");
}

TEST(Sidebar, InformationCardsWaitForKeyAndConnection) {
    const PaintScene scene = BuildMainWindowScene(Model());
    std::vector<PaintRect> cards;
    for (const RoundedItem& shape : ItemsOf<RoundedItem>(scene)) {
        if (shape.fill == kSidebarCard) {
            EXPECT_EQ(shape.outline, kSidebarCard);
            EXPECT_EQ(shape.radius, 12);
            cards.push_back(shape.rect);
        }
    }
    EXPECT_THAT(cards, ::testing::ElementsAre(PaintRect{18, 280, 318, 344}, PaintRect{18, 364, 318, 428},
                                              PaintRect{18, 448, 318, 512}));
    EXPECT_EQ(TextAt(scene, {32, 288, 304, 308}).text, L"设备");
    EXPECT_EQ(TextAt(scene, {32, 311, 304, 338}).text, L"等待密钥");
    EXPECT_EQ(TextAt(scene, {32, 311, 304, 338}).font, FontRole::Subheading);
    EXPECT_EQ(TextAt(scene, {32, 372, 304, 392}).text, L"组网 IP");
    EXPECT_EQ(TextAt(scene, {32, 395, 304, 422}).text, L"未连接");
    EXPECT_EQ(TextAt(scene, {32, 456, 304, 476}).text, L"运行库");
    EXPECT_EQ(TextAt(scene, {32, 479, 304, 506}).text, L"软件隧道已就绪");
}

TEST(Sidebar, DeviceNumberIsShownWholeUpTo24Characters) {
    PaintModel model = Model();
    model.deviceNumber = L"SITE-000000000000000024X";
    ASSERT_EQ(model.deviceNumber.size(), 24u);
    EXPECT_EQ(TextAt(BuildMainWindowScene(model), {32, 311, 304, 338}).text, model.deviceNumber);
    model.deviceNumber += L"Y";
    EXPECT_EQ(TextAt(BuildMainWindowScene(model), {32, 311, 304, 338}).text, L"SITE-0000000000000000...");
}

TEST(Sidebar, AssignedAddressIsCutAt28) {
    PaintModel model = Model();
    model.assignedAddress = L"100.64.0.2";
    EXPECT_EQ(TextAt(BuildMainWindowScene(model), {32, 395, 304, 422}).text, L"100.64.0.2");
    model.assignedAddress = std::wstring(29, L'9');
    EXPECT_EQ(TextAt(BuildMainWindowScene(model), {32, 395, 304, 422}).text, std::wstring(25, L'9') + L"...");
}

TEST(HeaderTabs, ConnectPageHighlightsConnectAndUnderlinesIt) {
    const PaintScene scene = BuildMainWindowScene(Model(1204, 821, 0));
    EXPECT_EQ(TextAt(scene, {360, 64, 422, 98}).text, L"连接");
    EXPECT_EQ(TextAt(scene, {360, 64, 422, 98}).color, kPrimaryText);
    EXPECT_EQ(TextAt(scene, {448, 64, 516, 98}).text, L"日志");
    EXPECT_EQ(TextAt(scene, {448, 64, 516, 98}).color, kInactiveTabText);
    const std::vector<LineItem> lines = ItemsOf<LineItem>(scene);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].fromX, 360);
    EXPECT_EQ(lines[0].toX, 408);
    EXPECT_EQ(lines[0].fromY, 102);
    EXPECT_EQ(lines[0].toY, 102);
    EXPECT_EQ(lines[0].width, 3);
    EXPECT_EQ(lines[0].color, kTabUnderline);
}

TEST(HeaderTabs, LogPageHighlightsLogAndUnderlinesIt) {
    const PaintScene scene = BuildMainWindowScene(Model(1204, 821, 1));
    EXPECT_EQ(TextAt(scene, {360, 64, 422, 98}).color, kInactiveTabText);
    EXPECT_EQ(TextAt(scene, {448, 64, 516, 98}).color, kPrimaryText);
    const std::vector<LineItem> lines = ItemsOf<LineItem>(scene);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].fromX, 448);
    EXPECT_EQ(lines[0].toX, 496);
}

TEST(PageCards, ConnectPageHasThreeCardsWithTitlesAndLabels) {
    const PaintScene scene = BuildMainWindowScene(Model(1204, 821, 0));
    // R = 1204 - 28, L = R - 22; the log card's top is 821 - 132.
    EXPECT_THAT(PageCards(scene), ::testing::ElementsAre(PaintRect{360, 116, 1176, 466}, PaintRect{360, 486, 1176, 716},
                                                         PaintRect{360, 689, 1176, 795}));
    const struct {
        PaintRect rect;
        const wchar_t* text;
        FontRole font;
        std::uint32_t color;
    } expected[] = {
        {{382, 138, 1154, 178}, L"远程连接", FontRole::Heading, kPrimaryText},
        {{382, 190, 1154, 216}, L"接入密钥", FontRole::Subheading, kSecondaryText},
        {{382, 300, 1154, 326}, L"目标网段", FontRole::Subheading, kSecondaryText},
        {{382, 378, 1154, 404}, L"通讯测试 IP", FontRole::Subheading, kSecondaryText},
        {{382, 508, 1154, 548}, L"档案", FontRole::Heading, kPrimaryText},
        {{382, 560, 1154, 586}, L"档案名称", FontRole::Subheading, kSecondaryText},
        {{382, 638, 1154, 664}, L"已保存档案", FontRole::Subheading, kSecondaryText},
        {{382, 707, 1154, 739}, L"日志", FontRole::Heading, kPrimaryText},
    };
    for (const auto& e : expected) {
        const TextItem text = TextAt(scene, e.rect);
        EXPECT_EQ(text.text, e.text);
        EXPECT_EQ(text.font, e.font);
        EXPECT_EQ(text.color, e.color);
        EXPECT_EQ(text.format, kSingleLineFormat);
    }
}

TEST(PageCards, CardsAndLabelsFollowTheCompressedControls) {
    const int height = kSmallestLayoutHeight;
    const PaintScene scene = BuildMainWindowScene(Model(1204, height, 0));
    const auto placements = LayoutPlacements(1204, height, kConnectPage);
    const auto y = [&](int id) {
        return std::find_if(placements.begin(), placements.end(), [&](const ControlPlacement& p) { return p.id == id; })->y;
    };
    EXPECT_EQ(TextAt(scene, {382, y(kSavedProfiles) - 32, 1154, y(kSavedProfiles) - 6}).text, L"已保存档案");
    EXPECT_EQ(TextAt(scene, {382, y(kAccessKey) - 36, 1154, y(kAccessKey) - 10}).text, L"接入密钥");
    const std::vector<PaintRect> cards = PageCards(scene);
    ASSERT_EQ(cards.size(), 3u);
    EXPECT_LT(cards[0].bottom, cards[1].top) << "the two upper cards stay apart";
    EXPECT_GE(cards[0].bottom, y(kTestAddress) + 38);
    EXPECT_LE(cards[2].bottom, height);
}

TEST(PageCards, LogCardTopStaysWithin642And736FromTheFullHeightOn) {
    EXPECT_EQ(PageCards(BuildMainWindowScene(Model(1204, 700, 0))).back(), (PaintRect{360, 592, 1176, 684}))
        << "a short window compresses the layout, and the card still frames the status line";
    EXPECT_EQ(PageCards(BuildMainWindowScene(Model(1204, 775, 0))).back(), (PaintRect{360, 643, 1176, 749}));
    const PaintScene tall = BuildMainWindowScene(Model(1600, 1200, 0));
    EXPECT_EQ(PageCards(tall).back(), (PaintRect{360, 736, 1572, 1174}));
    EXPECT_EQ(TextAt(tall, {382, 754, 1550, 786}).text, L"日志");
}

TEST(PageCards, LogPageHasOneTallCard) {
    const PaintScene scene = BuildMainWindowScene(Model(1204, 821, 1));
    EXPECT_THAT(PageCards(scene), ::testing::ElementsAre(PaintRect{360, 116, 1176, 795}));
    EXPECT_EQ(TextAt(scene, {382, 138, 1154, 174}).text, L"日志");
    for (const TextItem& text : ItemsOf<TextItem>(scene)) {
        EXPECT_NE(text.text, L"远程连接");
        EXPECT_NE(text.text, L"接入密钥");
    }
}

TEST(MainWindowScene, StartsWithTheBackgroundOverTheWholeClientArea) {
    const PaintScene scene = BuildMainWindowScene(Model(1300, 900, 0));
    ASSERT_FALSE(scene.empty());
    const auto* background = std::get_if<FillItem>(&scene.front());
    ASSERT_NE(background, nullptr);
    EXPECT_EQ(background->rect, (PaintRect{0, 0, 1300, 900}));
    EXPECT_EQ(background->color, kWindowBackground);
    EXPECT_EQ(ItemsOf<FillItem>(scene).size(), 1u);
}

TEST(ButtonScene, FillsTheItemWithCardColourThenTheRoundedButtonThenCentredText) {
    const PaintScene scene = BuildButtonScene({10, 20, 106, 58}, 1009, false, true, L"连接");
    ASSERT_EQ(scene.size(), 3u);
    const auto& fill = std::get<FillItem>(scene[0]);
    EXPECT_EQ(fill.rect, (PaintRect{10, 20, 106, 58}));
    EXPECT_EQ(fill.color, kCardFill);
    const auto& shape = std::get<RoundedItem>(scene[1]);
    EXPECT_EQ(shape.rect, (PaintRect{10, 20, 106, 58}));
    EXPECT_EQ(shape.radius, 8);
    EXPECT_EQ(shape.fill, Rgb(46, 67, 88));
    const auto& text = std::get<TextItem>(scene[2]);
    EXPECT_EQ(text.rect, (PaintRect{20, 22, 96, 56}));
    EXPECT_EQ(text.text, L"连接");
    EXPECT_EQ(text.font, FontRole::Button);
    EXPECT_EQ(text.format, kCenteredFormat);
    EXPECT_EQ(text.color, kPrimaryText);
}

TEST(ButtonScene, DisabledDangerButtonUsesItsDisabledColours) {
    const PaintScene scene = BuildButtonScene({0, 0, 96, 38}, 1013, true, true, L"断开");
    const auto& shape = std::get<RoundedItem>(scene[1]);
    EXPECT_EQ(shape.fill, 0x262025u);
    EXPECT_EQ(shape.outline, 0x403741u);
    EXPECT_EQ(std::get<TextItem>(scene[2]).color, 0xCDC4EEu);
}

}  // namespace
}  // namespace ostrevane
