// The module's entry points and its factory: one audio effect class.
#include "formats/vst3/vst3effect.h"

#include "travesty/factory.h"

#include <cstring>

#if defined(_WIN32)
#define QL_EXPORT
#else
#define QL_EXPORT __attribute__((visibility("default")))
#endif

namespace ql::formats::vst3 {
namespace {

#ifndef QL_VERSION_STRING
#define QL_VERSION_STRING "1.0"
#endif
constexpr const char* kVersion = QL_VERSION_STRING;
constexpr const char* kSdkVersion = "VST 3.7.4";
constexpr int32_t kManyInstances = 0x7FFFFFFF;
constexpr int32_t kUnicode = 0x10;

void copyField(char* out, std::size_t capacity, const char* text) {
    std::strncpy(out, text, capacity - 1);
    out[capacity - 1] = '\0';
}

bool sameTuid(const v3_tuid a, const v3_tuid b) {
    return std::memcmp(a, b, sizeof(v3_tuid)) == 0;
}

struct Factory;
v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj);
// The factory lives as long as the module; its references are not counted.
uint32_t V3_API ref(void*) {
    return 1;
}
uint32_t V3_API unref(void*) {
    return 1;
}

v3_result V3_API getFactoryInfo(void*, v3_factory_info* info) {
    if (!info) return V3_INVALID_ARG;
    *info = v3_factory_info{};
    copyField(info->vendor, sizeof info->vendor, kVendor);
    copyField(info->url, sizeof info->url, "https://quillantrope.audio");
    copyField(info->email, sizeof info->email, "quillantrope@example.org");
    info->flags = kUnicode;
    return V3_OK;
}

int32_t V3_API numClasses(void*) {
    return 1;
}

v3_result V3_API getClassInfo(void*, int32_t index, v3_class_info* info) {
    if (!info || index != 0) return V3_INVALID_ARG;
    *info = v3_class_info{};
    std::memcpy(info->class_id, kClassId, sizeof(v3_tuid));
    info->cardinality = kManyInstances;
    copyField(info->category, sizeof info->category, kCategory);
    copyField(info->name, sizeof info->name, kName);
    return V3_OK;
}

v3_result V3_API getClassInfo2(void*, int32_t index, v3_class_info_2* info) {
    if (!info || index != 0) return V3_INVALID_ARG;
    *info = v3_class_info_2{};
    std::memcpy(info->class_id, kClassId, sizeof(v3_tuid));
    info->cardinality = kManyInstances;
    copyField(info->category, sizeof info->category, kCategory);
    copyField(info->name, sizeof info->name, kName);
    copyField(info->sub_categories, sizeof info->sub_categories, kSubCategories);
    copyField(info->vendor, sizeof info->vendor, kVendor);
    copyField(info->version, sizeof info->version, kVersion);
    copyField(info->sdk_version, sizeof info->sdk_version, kSdkVersion);
    return V3_OK;
}

v3_result V3_API getClassInfoUtf16(void*, int32_t index, v3_class_info_3* info) {
    if (!info || index != 0) return V3_INVALID_ARG;
    *info = v3_class_info_3{};
    std::memcpy(info->class_id, kClassId, sizeof(v3_tuid));
    info->cardinality = kManyInstances;
    copyField(info->category, sizeof info->category, kCategory);
    toUtf16(kName, info->name, 64);
    copyField(info->sub_categories, sizeof info->sub_categories, kSubCategories);
    toUtf16(kVendor, info->vendor, 64);
    toUtf16(kVersion, info->version, 64);
    toUtf16(kSdkVersion, info->sdk_version, 64);
    return V3_OK;
}

v3_result V3_API setHostContext(void*, v3_funknown**) {
    return V3_OK;
}

v3_result V3_API createInstance(void*, const v3_tuid classId, const v3_tuid iid, void** instance) {
    if (!instance) return V3_INVALID_ARG;
    *instance = nullptr;
    if (!classId || !iid || !sameTuid(classId, kClassId)) return V3_NO_INTERFACE;
    Effect* effect = Effect::create();
    if (!effect) return V3_NOMEM;
    *instance = effect->query(iid);
    effect->unref(); // the interface asked for holds the only reference, if any
    return *instance ? V3_OK : V3_NO_INTERFACE;
}

const v3_plugin_factory_cpp kFactoryVtable = {
    {&queryInterface, &ref, &unref},
    {&getFactoryInfo, &numClasses, &getClassInfo, &createInstance},
    {&getClassInfo2},
    {&getClassInfoUtf16, &setHostContext},
};

struct Factory {
    const v3_plugin_factory_cpp* vtable = &kFactoryVtable;
};
Factory gFactory;

v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj) {
    if (!obj) return V3_INVALID_ARG;
    if (sameTuid(iid, v3_funknown_iid) || sameTuid(iid, v3_plugin_factory_iid) ||
        sameTuid(iid, v3_plugin_factory_2_iid) || sameTuid(iid, v3_plugin_factory_3_iid)) {
        *obj = self;
        return V3_OK;
    }
    *obj = nullptr;
    return V3_NO_INTERFACE;
}

} // namespace
} // namespace ql::formats::vst3

// The entry points hosts look for. Nothing is set up or torn down at module entry and exit: the
// factory is static and every instance owns what it uses.
extern "C" QL_EXPORT void* GetPluginFactory() {
    return &ql::formats::vst3::gFactory;
}
#if defined(_WIN32)
extern "C" bool InitDll() {
    return true;
}
extern "C" bool ExitDll() {
    return true;
}
#else
extern "C" QL_EXPORT bool ModuleEntry(void*) {
    return true;
}
extern "C" QL_EXPORT bool ModuleExit() {
    return true;
}
#endif
