// The connection form on the recording backend: the column, the fields and regions per kind,
// the legacy RDP card, discovered devices and the validation line.
#include <gtest/gtest.h>

#include "profiles/connection_list.hpp"
#include "tests/views/view_frame.hpp"
#include "views/screens.hpp"
#include "zavo_ui/surface.hpp"

#include <string>

using namespace remote;
using namespace view_test;

namespace {

class FormScreen : public ::testing::Test {
protected:
    FormScreen() { frame.close_navigation(); }  // the pane is the window
    void run(const UiCommand& command) { frame.app->execute(command, doc); }
    void new_form(ConnectionKind kind) {
        run(UiCommand::plain(K::NewConnectionForm));
        run(UiCommand::set_kind(kind));
    }
    std::vector<std::string> labels(const zavo_ui::RecordingBackend& records) const {
        std::vector<std::string> out;
        for (const DrawRecord* t : records.texts())
            if (t->style.size == 12.0f && t->style.weight == 2 && t->color == frame.colors().text_secondary)
                out.push_back(t->text);
        return out;
    }
    crdt::Document doc;
    ViewFrame frame{RemoteApp::with_sample_data()};
};

}  // namespace

TEST_F(FormScreen, FieldsAndRegionsByKind) {
    using Kinds = std::vector<K>;
    const Kinds protocol{K::SetKind, K::SetKind, K::SetKind};
    struct Case {
        ConnectionKind kind;
        std::vector<std::string> labels;
        Kinds regions;  // after the protocol segments
        std::vector<InputSlot> inputs;
    } cases[] = {
        {ConnectionKind::Ssh,
         {"Protocol", "Name", "Host", "User", "Authentication"},
         {K::FocusInput, K::FocusInput, K::FocusInput, K::FocusInput, K::FocusInput, K::SetAuth, K::SetAuth,
          K::SaveForm, K::CancelForm},
         {InputSlot::Name, InputSlot::Host, InputSlot::Port, InputSlot::User, InputSlot::Group}},
        {ConnectionKind::Vnc,
         {"Protocol", "Name", "Host", "Group", "Authentication"},
         {K::FocusInput, K::FocusInput, K::FocusInput, K::FocusInput, K::SetAuth, K::SaveForm, K::CancelForm},
         {InputSlot::Name, InputSlot::Host, InputSlot::Port, InputSlot::Group}},
        {ConnectionKind::Rdp,
         {"Protocol", "Name", "Host", "User", "Authentication"},
         {K::FocusInput, K::FocusInput, K::FocusInput, K::FocusInput, K::FocusInput, K::SetAuth, K::SaveForm,
          K::CancelForm},
         {InputSlot::Name, InputSlot::Host, InputSlot::Port, InputSlot::User, InputSlot::Group}},
        {ConnectionKind::Zavo,
         {"Protocol", "Discovered Zavo devices", "Name", "Device node", "Authentication"},
         {K::UseDiscoveredDevice, K::UseDiscoveredDevice, K::UseDiscoveredDevice, K::UseDiscoveredDevice, K::FocusInput,
          K::FocusInput, K::SaveForm, K::CancelForm},
         {InputSlot::Name, InputSlot::Host}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(stored_name(c.kind)));
        new_form(c.kind);
        const auto records = frame.paint();
        EXPECT_EQ(labels(records), c.labels);
        Kinds expected = protocol;
        expected.insert(expected.end(), c.regions.begin(), c.regions.end());
        EXPECT_EQ(region_kinds(*frame.app), expected);
        std::vector<InputSlot> inputs;
        for (const auto& r : frame.app->hit_regions)
            if (r.command.kind == K::FocusInput) inputs.push_back(std::get<InputSlot>(r.command.value));
        EXPECT_EQ(inputs, c.inputs);
        EXPECT_EQ(records.find_text("Legacy RDP profile") != nullptr, c.kind == ConnectionKind::Rdp);
        EXPECT_TRUE(records.find_text("New connection"));
    }
}

TEST_F(FormScreen, ColumnGeometry) {
    struct Case {
        double pane, column, offset;
    } cases[] = {{700, 560, 70}, {400, 352, 24}};
    new_form(ConnectionKind::Ssh);
    for (const auto& c : cases) {
        frame.app->hit_regions.clear();
        views::paint_form_screen(*frame.app, frame.context(), Rect{100, 0, 100 + c.pane, 900});
        const auto& regions = frame.app->hit_regions;
        const double x0 = 100 + c.offset, x1 = x0 + c.column;
        // The fake label is 15 high: a label's control starts 19 below it.
        EXPECT_EQ(regions[0].rect, (Rect{x0, 91, x0 + c.column / 3, 131}));
        EXPECT_EQ(regions[2].rect.x1, x1);
        EXPECT_EQ(regions[3].rect, (Rect{x0, 166, x1, 206}));                             // Name
        EXPECT_EQ(regions[4].rect, (Rect{x0, 241, x1 - 130, 281}));                       // Host
        EXPECT_EQ(regions[5].rect, (Rect{x1 - 118, 241, x1, 281}));                       // Port
        EXPECT_EQ(regions[6].rect, (Rect{x0, 316, x0 + (c.column - 12) / 2, 356}));       // User
        EXPECT_EQ(regions[7].rect, (Rect{x0 + (c.column + 12) / 2, 316, x1, 356}));       // Group
        EXPECT_EQ(regions[8].rect, (Rect{x0, 391, x0 + c.column / 2, 431}));              // Password
        EXPECT_EQ(regions[10].rect, (Rect{x1 - 120, 391 + 56 + 28, x1, 391 + 56 + 68}));  // Save
        EXPECT_EQ(regions[11].rect, (Rect{x1 - 230, 475, x1 - 132, 515}));                // Cancel
    }
    // Unscrolled, the column is cut to the main pane. In a short window the controls
    // below its bottom have no region; in a narrow one Cancel is cut where the rail's strip begins.
    frame.resize(1280, 300);
    frame.close_navigation();
    frame.paint();
    EXPECT_LE(frame.app->hit_regions.back().rect.y1, 300);
    EXPECT_FALSE(frame.app->hit_region_rect(UiCommand::plain(K::SaveForm)));
    frame.resize(300, 800);
    frame.paint();
    EXPECT_EQ(frame.app->hit_region_rect(UiCommand::plain(K::CancelForm))->x0, 64);
    for (const HitRegion& r : frame.app->hit_regions)
        if (r.command.kind != K::ToggleNavigation) {
            EXPECT_GE(r.rect.x0, 64);
        }
}

TEST_F(FormScreen, RdpSelectsNoProtocolAndShowsTheLegacyCard) {
    const auto selected_segments = [&](const zavo_ui::RecordingBackend& records) {
        int n = 0;
        for (const DrawRecord* r : records.of_kind(DrawRecord::Kind::Stroke))
            if (r->color == frame.colors().accent.with_alpha(0.7f)) ++n;
        return n;
    };
    new_form(ConnectionKind::Rdp);
    auto records = frame.paint();
    EXPECT_EQ(selected_segments(records), 1);  // only Password among the authentication kinds
    const DrawRecord* title = records.find_text("Legacy RDP profile");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->color, frame.colors().warning);
    // The card sits where the Name label would, and Name starts 12 below it.
    EXPECT_EQ(title->bounds.y0, 91 + 56 + 9);
    EXPECT_EQ(records.find_text("Name")->bounds.y0, 91 + 56 + 54 + 12);
    run(UiCommand::set_kind(ConnectionKind::Vnc));
    records = frame.paint();
    EXPECT_EQ(selected_segments(records), 2);
    EXPECT_FALSE(records.find_text("Legacy RDP profile"));
}

TEST_F(FormScreen, DiscoveredDevices) {
    new_form(ConnectionKind::Zavo);
    run(UiCommand::use_discovered_device(1));
    auto records = frame.paint();
    const DiscoveredDevice& device = frame.app->devices[1];
    const auto marked = [&](const zavo_ui::RecordingBackend& r) {
        std::vector<Rect> out;
        for (const DrawRecord* s : r.of_kind(DrawRecord::Kind::Stroke))
            if (s->color == zavo_ui::surface::edge_on_with(frame.colors().surface, 92)) out.push_back(s->bounds);
        return out;
    };
    const Rect row = frame.app->hit_regions[4].rect;  // after the protocol segments and device 0
    EXPECT_EQ(row.height(), 36);
    EXPECT_EQ(row.y0 - frame.app->hit_regions[3].rect.y0, 44);
    ASSERT_EQ(marked(records).size(), 1u);
    EXPECT_EQ(marked(records)[0], row.inset(0.5));
    EXPECT_TRUE(records.find_text(shorten_id(device.endpoint_id)));
    EXPECT_EQ(records.find_text(device.name)->bounds.x0, row.x0 + 30);

    // One character less in the host: no device is marked.
    frame.app->form.host.pop_back();
    EXPECT_TRUE(marked(frame.paint()).empty());

    // With no devices the label stays and "Name" starts 8 below it.
    frame.app->devices.clear();
    records = frame.paint();
    const DrawRecord* label = records.find_text("Discovered Zavo devices");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(records.find_text("Name")->bounds.y0, label->bounds.y1 + 4 + 8);
}

TEST_F(FormScreen, ValidationLineAndButtons) {
    new_form(ConnectionKind::Ssh);
    auto records = frame.paint();
    const DrawRecord* hint = records.find_text("Enter a name and target to save this connection.");
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->color, frame.colors().text_secondary);
    const double line_top = hint->bounds.y0;

    run(UiCommand::plain(K::SaveForm));  // an empty form: every problem shows
    frame.app->hit_regions.clear();      // in a narrow column the line wraps
    views::paint_form_screen(*frame.app, frame.context(), Rect{0, 0, 250, 800});
    records = frame.records();
    const auto problems = frame.app->form_problems();
    ASSERT_GE(problems.size(), 2u);
    std::string joined = problems[0];
    for (std::size_t i = 1; i < problems.size(); ++i) joined += " · " + problems[i];
    const DrawRecord* line = records.find_text(joined);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->color, frame.colors().danger);
    EXPECT_GT(line->bounds.height(), 12.5 * 1.25);  // wrapped
    EXPECT_EQ(line->bounds.y0, line_top);
    EXPECT_EQ(frame.app->hit_region_rect(UiCommand::plain(K::SaveForm))->y0, line_top + 28);
    EXPECT_FALSE(frame.app->hit_region_rect(UiCommand::with_id(K::RequestDelete, Uuid{})));

    const SavedConnection& first = frame.app->connections.front();
    run(UiCommand::with_id(K::EditConnection, first.id));
    records = frame.paint();
    EXPECT_TRUE(records.find_text("Edit connection"));
    EXPECT_EQ(region_kinds(*frame.app).back(), K::RequestDelete);
    EXPECT_EQ(frame.app->hit_regions.back().command, UiCommand::with_id(K::RequestDelete, first.id));
    EXPECT_EQ(frame.app->hit_regions.back().rect.x0, (1280 - 560) / 2);
}

TEST_F(FormScreen, DeviceIdentityCardHoldsItsWrappedText) {
    new_form(ConnectionKind::Zavo);
    const std::string text = "Authenticated by Zavo device identity over the P2P fabric — no password needed.";
    for (double pane : {1280.0, 300.0}) {  // one line in the 40-high card; three in a taller one
        views::paint_form_screen(*frame.app, frame.context(), Rect{0, 0, pane, 900});
        const auto records = frame.records();
        const DrawRecord* line = records.find_text(text);
        const DrawRecord* hint = records.find_text("Enter a name and target to save this connection.");
        ASSERT_TRUE(line && hint);
        const double card_top = line->bounds.y0 - 13;
        const double card_bottom = std::max(card_top + 40, line->bounds.y1 + 10);
        EXPECT_TRUE(std::ranges::any_of(records.of_kind(DrawRecord::Kind::Fill), [&](const DrawRecord* r) {
            return r->color == frame.colors().background && r->bounds.y0 == card_top && r->bounds.y1 == card_bottom;
        })) << pane;
        EXPECT_EQ(hint->bounds.y0, card_bottom + 16) << pane;  // 56 below the card's top when it is 40 high
    }
}

// What a person compares character by character is drawn verbatim: the host and port typed into
// the form, a discovered device's id; the name and the labels keep the interface font's shaping.
TEST_F(FormScreen, HostsPortsAndEndpointIdsAreDrawnVerbatim) {
    new_form(ConnectionKind::Ssh);
    frame.app->form.name = "Box 6x9";
    frame.app->form.host = "node6x9.lab";
    frame.app->form.port = "2222";
    frame.app->load_form_into_inputs();
    auto records = frame.paint();
    for (const auto& [text, verbatim] : {std::pair{"node6x9.lab", true}, {"2222", true}, {"Box 6x9", false}}) {
        const DrawRecord* drawn = records.find_text(text);
        ASSERT_NE(drawn, nullptr) << text;
        EXPECT_EQ(drawn->style.verbatim, verbatim) << text;
    }
    new_form(ConnectionKind::Zavo);
    records = frame.paint();
    const DiscoveredDevice& device = frame.app->devices.front();
    const DrawRecord* id = records.find_text(shorten_id(device.endpoint_id));
    ASSERT_NE(id, nullptr);
    EXPECT_TRUE(id->style.verbatim);
    EXPECT_FALSE(records.find_text(device.name)->style.verbatim);
}
