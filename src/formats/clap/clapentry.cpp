// The CLAP module's one exported symbol: the entry and its plug-in factory.
#include "formats/clap/clapplugin.h"

#include <clap/entry.h>
#include <clap/plugin-factory.h>

#include <cstring>

namespace {

uint32_t CLAP_ABI pluginCount(const clap_plugin_factory_t*) {
    return 1;
}

const clap_plugin_descriptor_t* CLAP_ABI pluginDescriptor(const clap_plugin_factory_t*,
                                                          uint32_t index) {
    return index == 0 ? &ql::clap::descriptor() : nullptr;
}

const clap_plugin_t* CLAP_ABI createPlugin(const clap_plugin_factory_t*, const clap_host_t* host,
                                           const char* id) {
    if (!id || std::strcmp(id, ql::clap::descriptor().id) != 0) return nullptr;
    return ql::clap::createPlugin(host);
}

const clap_plugin_factory_t kFactory = {pluginCount, pluginDescriptor, createPlugin};

bool CLAP_ABI entryInit(const char*) {
    return true;
}

void CLAP_ABI entryDeinit() {}

const void* CLAP_ABI entryFactory(const char* id) {
    return id && std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory : nullptr;
}

} // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION_INIT, entryInit,
                                                               entryDeinit, entryFactory};
