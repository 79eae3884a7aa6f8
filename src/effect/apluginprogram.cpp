#include "effect/apluginprogram.h"

#include "valuemodel/numtext.h"

APluginProgram::APluginProgram(const char* name) {
    for (int i = 0; i < ql::kNumParams; ++i)
        setValue(i, ql::defaultParameterValue(i));
    setName(name);
}

void APluginProgram::setName(const char* text) {
    ql::copyText(name, sizeof name, text);
}
