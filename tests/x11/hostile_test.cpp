// Other programs' windows may carry any bytes in any property, have absurd sizes, or vanish
// while we look at them: the backend must neither crash nor believe the garbage.
#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "test_client.h"
#include "x11_backend.h"
#include "xsession.h"

namespace sombrix::x11 {
namespace {

using namespace test;

TEST(X11Hostile, MalformedPropertiesReadAsAbsentAndOddWindowsAreHarmless) {
    SOMBRIX_XSESSION_OR_SKIP(session, XSessionOptions{});
    TestClient client(session.display());
    Backend backend(session.display());
    backend.listen();

    xcb_window_t w = client.createWindow({.types = {}});
    ASSERT_NE(w, 0u);
    const std::uint32_t huge[] = {0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu};
    const std::uint16_t shorts[] = {1, 2, 3, 4};
    const char text[] = "garbage";
    std::vector<std::uint32_t> manyAtoms(100000, client.atom("_NET_WM_STATE_HIDDEN"));
    client.setProperty(w, "_NET_WM_PID", XCB_ATOM_CARDINAL, 32, huge, 1);
    client.setProperty(w, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, 16, shorts, 4);
    client.setProperty(w, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL, 32, huge, 4);
    client.setProperty(w, "WM_CLASS", XCB_ATOM_STRING, 8, text, 7);
    // A state list far beyond any real one, all saying hidden, but of the wrong type.
    client.setProperty(w, "_NET_WM_STATE", XCB_ATOM_CARDINAL, 32, manyAtoms.data(),
                       static_cast<std::uint32_t>(manyAtoms.size()));
    xcb_window_t decoy = client.createWindow({.x = 600, .wmClass = "Other"});
    ASSERT_NE(decoy, 0u);

    backend.pump();
    auto list = backend.platform.x11WindowList().windows();
    ASSERT_TRUE(list);
    const X11Window* entry = findWindow(*list, w);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->pid, ::getpid()) << "the server's answer, not the property";
    EXPECT_EQ(entry->layer, layer::kNormal) << "an unreadable type is no type";
    EXPECT_FALSE(entry->state.hidden);
    auto frame = client.rootGeometry(*client.topLevelOf(w));
    EXPECT_EQ(entry->bounds->width, (*frame)[2]);

    Accessibility& ax = backend.platform.accessibility();
    AXElement element{AXElement::Kind::Window, ::getpid(), w};
    EXPECT_EQ(ax.copyAttributeValue(element, ax::kMinimized), AXAttributeValue{false});
    client.activate(w);
    ASSERT_TRUE(waitUntil([&] { return client.activeWindow() == w; }));
    backend.pump();
    auto front = backend.platform.workspace().frontmostApplication();
    ASSERT_TRUE(front);
    EXPECT_TRUE(front->bundleIdentifier == std::nullopt || front->bundleIdentifier == "Other");

    // Tiny and gigantic windows, and one that vanishes, read by a backend that hears no events.
    Backend plain(session.display());
    xcb_window_t tiny = client.createWindow({.width = 1, .height = 1});
    xcb_window_t giant = client.createWindow(
        {.x = -30000, .y = -30000, .width = 65535, .height = 65535, .waitUntilManaged = false});
    ASSERT_NE(tiny, 0u);
    ASSERT_TRUE(waitUntil([&] { return client.isManaged(giant); }));
    ASSERT_TRUE(plain.platform.windowList().copyWindowInfo());

    // Known to the list, then destroyed before its next pass: the pass still works and the
    // window is simply not there; its attributes are absent.
    xcb_window_t doomed = client.createWindow(TestWindowSpec{});
    ASSERT_NE(doomed, 0u);
    ASSERT_TRUE(plain.platform.x11WindowList().windows());
    client.destroy(doomed);
    own(xcb_get_input_focus_reply(client.connection(), xcb_get_input_focus(client.connection()),
                                  nullptr));
    auto after = plain.platform.x11WindowList().windows();
    ASSERT_TRUE(after);
    EXPECT_EQ(findWindow(*after, doomed), nullptr);
    EXPECT_EQ(plain.platform.accessibility().copyAttributeValue(
                  {AXElement::Kind::Window, ::getpid(), doomed}, ax::kFullScreen),
              std::nullopt);
    EXPECT_FALSE(plain.platform.stacking().topLevelOf(doomed));
    EXPECT_NE(findWindow(*after, tiny), nullptr);

    // Windows gone before the listening backend looked leave nothing in its cache: framed,
    // listed and destroyed unseen, or (a list that lies, as a lost race would) listed once gone,
    // so that our selection meets no window and no DestroyNotify ever comes.
    ASSERT_TRUE(backend.pumpUntil([&] {
        return !client.isManaged(doomed) && backend.list.cache().clients() == client.clientList();
    }));
    const std::size_t kept = backend.list.cache().entriesKept();
    const auto listed = client.clientList();
    for (int i = 0; i < 4; ++i)
        client.destroy(client.createWindow({.waitUntilManaged = i % 2 == 0}));
    ASSERT_TRUE(waitUntil([&] { return client.clientList() == listed; }));
    xcb_window_t holder =
        client.createWindow({.overrideRedirect = true, .map = false, .waitUntilManaged = false});
    xcb_window_t ghost = client.createWindow({.map = false, .waitUntilManaged = false});
    xcb_reparent_window(client.connection(), ghost, holder, 0, 0);
    client.destroy(ghost);
    auto lie = listed;
    lie.push_back(ghost);
    client.setProperty(client.root(), "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, 32, lie.data(),
                       lie.size());
    ASSERT_TRUE(backend.pumpUntil([&] { return backend.list.cache().clients() == lie; }));
    client.destroy(holder);
    client.setProperty(client.root(), "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, 32, listed.data(),
                       listed.size());
    ASSERT_TRUE(backend.pumpUntil([&] { return backend.list.cache().clients() == listed; }));
    EXPECT_EQ(backend.list.cache().entriesKept(), kept);
}

TEST(X11Hostile, LostServerBecomesOneCallAndAbsentAnswers) {
    auto session = std::make_unique<XSession>(XSessionOptions{});
    if (session->unavailable())
        GTEST_SKIP() << session->error();
    ASSERT_TRUE(session->ok()) << session->error();
    Backend backend(session->display());
    int calls = 0;
    backend.platform.setConnectionLostHandler([&](int) { ++calls; });
    ASSERT_TRUE(backend.platform.windowList().copyWindowInfo());

    session.reset();  // the server goes away under us
    EXPECT_FALSE(backend.platform.windowList().copyWindowInfo());
    EXPECT_FALSE(backend.platform.accessibility().isProcessTrusted());
    EXPECT_FALSE(backend.platform.workspace().frontmostApplication());
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace sombrix::x11
