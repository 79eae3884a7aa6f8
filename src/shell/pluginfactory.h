// The one effect this library makes; supplied by the effect layer.
#pragma once

#include "shell/audioeffect.h"

AudioEffect* createEffectInstance(audioMasterCallback audioMaster);
