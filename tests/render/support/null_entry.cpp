// A library that looks like a plug-in but whose entry refuses to create an effect.
extern "C" __attribute__((visibility("default"))) void* VSTPluginMain(void*) {
    return nullptr;
}
