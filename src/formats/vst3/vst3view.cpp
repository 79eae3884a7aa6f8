#include "formats/vst3/vst3view.h"

#include "formats/vst3/vst3effect.h"

#include <atomic>
#include <cstring>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace ql::formats::vst3 {
namespace {

// How often the editor is idled: its refresh, and the end of a gesture (a whole idle call
// without an edit).
constexpr std::uint64_t kIdleMs = 20;

bool sameTuid(const v3_tuid a, const v3_tuid b) {
    return std::memcmp(a, b, sizeof(v3_tuid)) == 0;
}

class View {
  public:
    explicit View(Effect& owner);

    v3_plugin_view** face() { return reinterpret_cast<v3_plugin_view**>(&view_); }

    struct Api;
    friend struct Api;

  private:
    ~View();
    void* query(const v3_tuid iid);
    std::uint32_t ref() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    std::uint32_t unref();
    bool attach(void* parent, const char* type);
    bool remove();
    void idle();
    void startRunLoop();
    void stopRunLoop();

    Face<View> view_, timer_, events_;
    std::atomic<std::uint32_t> refs_{1};
    Effect& effect;
    v3_plugin_frame** frame_ = nullptr;
    v3_run_loop** loop_ = nullptr;
#if defined(_WIN32)
    // Windows has no host run loop: a timer on the host's window, dispatched by its messages.
    HWND timerWindow_ = nullptr;
    static void CALLBACK onWin32Timer(HWND, UINT, UINT_PTR id, DWORD) {
        reinterpret_cast<View*>(id)->idle();
    }
#endif
    bool attached_ = false;
    void* parent_ = nullptr;
    bool timerOn_ = false;
    bool eventsOn_ = false;
};

bool supported(const char* type) {
    return type && std::strcmp(type, V3_VIEW_PLATFORM_TYPE_NATIVE) == 0;
}

struct View::Api {
    static View* of(void* self) { return ownerOf<View>(self); }

    static v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj) {
        if (!obj) return V3_INVALID_ARG;
        *obj = of(self)->query(iid);
        return *obj ? V3_OK : V3_NO_INTERFACE;
    }
    static uint32_t V3_API ref(void* self) { return of(self)->ref(); }
    static uint32_t V3_API unref(void* self) { return of(self)->unref(); }

    static v3_result V3_API isPlatformTypeSupported(void*, const char* type) {
        return supported(type) ? V3_OK : V3_FALSE;
    }
    static v3_result V3_API attached(void* self, void* parent, const char* type) {
        if (!parent) return V3_INVALID_ARG;
        return of(self)->attach(parent, type) ? V3_OK : V3_FALSE;
    }
    static v3_result V3_API removed(void* self) { return of(self)->remove() ? V3_OK : V3_FALSE; }
    static v3_result V3_API onWheel(void*, float) { return V3_FALSE; }
    static v3_result V3_API onKey(void*, int16_t, int16_t, int16_t) { return V3_FALSE; }
    static v3_result V3_API getSize(void*, v3_view_rect* rect) {
        if (!rect) return V3_INVALID_ARG;
        *rect = {0, 0, PluginBridge::kEditorWidth, PluginBridge::kEditorHeight};
        return V3_OK;
    }
    static v3_result V3_API onSize(void*, v3_view_rect* rect) {
        return rect ? V3_OK : V3_INVALID_ARG; // the window keeps its one size
    }
    static v3_result V3_API onFocus(void*, v3_bool) { return V3_OK; }
    static v3_result V3_API setFrame(void* self, v3_plugin_frame** frame) {
        // The frame outlives the view's use of it (hosts clear it before they let go).
        of(self)->frame_ = frame;
        return V3_OK;
    }
    static v3_result V3_API canResize(void*) { return V3_FALSE; }
    static v3_result V3_API checkSizeConstraint(void*, v3_view_rect* rect) {
        if (!rect) return V3_INVALID_ARG;
        *rect = {rect->left, rect->top, rect->left + PluginBridge::kEditorWidth,
                 rect->top + PluginBridge::kEditorHeight};
        return V3_OK;
    }

    static void V3_API onTimer(void* self) { of(self)->idle(); }
    static void V3_API onFdIsSet(void* self, int) { of(self)->idle(); }
};

#define QL_V3_UNKNOWN                                                                              \
    { &View::Api::queryInterface, &View::Api::ref, &View::Api::unref }
const v3_plugin_view_cpp kViewVtable = {
    QL_V3_UNKNOWN,
    {&View::Api::isPlatformTypeSupported, &View::Api::attached, &View::Api::removed,
     &View::Api::onWheel, &View::Api::onKey, &View::Api::onKey, &View::Api::getSize,
     &View::Api::onSize, &View::Api::onFocus, &View::Api::setFrame, &View::Api::canResize,
     &View::Api::checkSizeConstraint},
};
const v3_timer_handler_cpp kTimerVtable = {QL_V3_UNKNOWN, {&View::Api::onTimer}};
const v3_event_handler_cpp kEventsVtable = {QL_V3_UNKNOWN, {&View::Api::onFdIsSet}};
#undef QL_V3_UNKNOWN

View::View(Effect& owner)
    : view_{&kViewVtable, this}, timer_{&kTimerVtable, this}, events_{&kEventsVtable, this},
      effect(owner) {
    effect.ref();
}

View::~View() {
    effect.unref();
}

void* View::query(const v3_tuid iid) {
    void* face = nullptr;
    if (sameTuid(iid, v3_funknown_iid) || sameTuid(iid, v3_plugin_view_iid))
        face = &view_;
    else if (sameTuid(iid, v3_timer_handler_iid))
        face = &timer_;
    else if (sameTuid(iid, v3_event_handler_iid))
        face = &events_;
    if (face) ref();
    return face;
}

std::uint32_t View::unref() {
    const std::uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
        // A host may let go of a view it never detached.
        remove();
        delete this;
    }
    return left;
}

bool View::attach(void* parent, const char* type) {
    PluginBridge& bridge = effect.bridge();
    // One editor per effect: a second view stays empty while the first is open.
    if (attached_ || !supported(type) || bridge.editorIsOpen()) return false;
    if (!bridge.openEditor(parent)) return false;
    attached_ = true;
    parent_ = parent;
    startRunLoop();
    return true;
}

bool View::remove() {
    if (!attached_) return false;
    stopRunLoop();
    effect.bridge().closeEditor();
    effect.flushEdits(); // the gestures closing ends
    attached_ = false;
    return true;
}

void View::idle() {
    if (!attached_) return;
    effect.bridge().idleEditor();
    effect.flushEdits();
}

void View::startRunLoop() {
#if defined(_WIN32)
    timerWindow_ = static_cast<HWND>(parent_);
    if (!SetTimer(timerWindow_, reinterpret_cast<UINT_PTR>(this), UINT(kIdleMs), &onWin32Timer))
        timerWindow_ = nullptr;
#else
    // The host's run loop, from the frame or else from the host context.
    v3_run_loop** loop = nullptr;
    if (frame_) v3_cpp_obj_query_interface(frame_, v3_run_loop_iid, &loop);
    if (!loop && effect.hostContext())
        v3_cpp_obj_query_interface(effect.hostContext(), v3_run_loop_iid, &loop);
    if (!loop) return;
    loop_ = loop;
    auto* timer = reinterpret_cast<v3_timer_handler**>(&timer_);
    timerOn_ = v3_cpp_obj(loop_)->register_timer(loop_, timer, kIdleMs) == V3_OK;
    // Input is handled as soon as it arrives; the timer keeps the refresh going.
    const int fd = effect.bridge().editorConnection();
    if (fd >= 0) {
        auto* events = reinterpret_cast<v3_event_handler**>(&events_);
        eventsOn_ = v3_cpp_obj(loop_)->register_event_handler(loop_, events, fd) == V3_OK;
    }
#endif
}

void View::stopRunLoop() {
#if defined(_WIN32)
    if (timerWindow_) KillTimer(timerWindow_, reinterpret_cast<UINT_PTR>(this));
    timerWindow_ = nullptr;
#endif
    if (!loop_) return;
    if (timerOn_)
        v3_cpp_obj(loop_)->unregister_timer(loop_, reinterpret_cast<v3_timer_handler**>(&timer_));
    if (eventsOn_)
        v3_cpp_obj(loop_)->unregister_event_handler(loop_,
                                                    reinterpret_cast<v3_event_handler**>(&events_));
    timerOn_ = eventsOn_ = false;
    v3_run_loop** loop = loop_;
    loop_ = nullptr;
    v3_cpp_obj_unref(loop);
}

} // namespace

v3_plugin_view** createEditorView(Effect& effect) {
    auto* view = new (std::nothrow) View(effect);
    return view ? view->face() : nullptr;
}

} // namespace ql::formats::vst3
