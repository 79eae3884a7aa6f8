// Quillantrope as a CLAP plug-in: what the entry's factory hands out.
#pragma once

#include <clap/plugin.h>

namespace ql::clap {

// The one plug-in's descriptor.
const clap_plugin_descriptor_t& descriptor();

// A new instance for `host`, or null for a host the plug-in cannot work with (none, or of an
// incompatible CLAP version).
const clap_plugin_t* createPlugin(const clap_host_t* host);

} // namespace ql::clap
