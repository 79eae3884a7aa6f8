#include "framework/platform/x11/x11keys.h"

#include "framework/platform/types.h"

#include <X11/keysym.h>

uint16_t X11KeySymToVirtualKey(unsigned long keysym) {
    if (keysym >= XK_a && keysym <= XK_z) return uint16_t('A' + (keysym - XK_a));
    if (keysym >= XK_A && keysym <= XK_Z) return uint16_t(keysym);
    if (keysym >= XK_0 && keysym <= XK_9) return uint16_t(keysym);
    if (keysym >= XK_F1 && keysym <= XK_F24) return uint16_t(vkF1 + (keysym - XK_F1));
    if (keysym >= XK_KP_0 && keysym <= XK_KP_9) return uint16_t(0x60 + (keysym - XK_KP_0));
    switch (keysym) {
    case XK_BackSpace:
        return vkBack;
    case XK_Tab:
    case XK_ISO_Left_Tab:
        return vkTab;
    case XK_Return:
    case XK_KP_Enter:
        return vkReturn;
    case XK_Shift_L:
    case XK_Shift_R:
        return vkShift;
    case XK_Control_L:
    case XK_Control_R:
        return vkControl;
    case XK_Alt_L:
    case XK_Alt_R:
    case XK_Meta_L:
    case XK_Meta_R:
        return vkMenu;
    case XK_Escape:
        return vkEscape;
    case XK_space:
        return vkSpace;
    case XK_Prior:
    case XK_KP_Prior:
        return vkPrior;
    case XK_Next:
    case XK_KP_Next:
        return vkNext;
    case XK_End:
    case XK_KP_End:
        return vkEnd;
    case XK_Home:
    case XK_KP_Home:
        return vkHome;
    case XK_Left:
    case XK_KP_Left:
        return vkLeft;
    case XK_Up:
    case XK_KP_Up:
        return vkUp;
    case XK_Right:
    case XK_KP_Right:
        return vkRight;
    case XK_Down:
    case XK_KP_Down:
        return vkDown;
    case XK_Execute:
        return vkExecute;
    case XK_Insert:
    case XK_KP_Insert:
        return vkInsert;
    case XK_Delete:
    case XK_KP_Delete:
        return vkDelete;
    case XK_Cancel:
        return vkCancel;
    default:
        return 0;
    }
}

char32_t X11KeySymToChar(unsigned long keysym) {
    // Latin-1 symbols are their own code points; the Unicode range carries one in its low bits.
    if ((keysym >= 0x20 && keysym <= 0x7E) || (keysym >= 0xA0 && keysym <= 0xFF))
        return char32_t(keysym);
    if ((keysym & 0xFF000000UL) == 0x01000000UL) return char32_t(keysym & 0x00FFFFFFUL);
    if (keysym >= XK_KP_0 && keysym <= XK_KP_9) return char32_t('0' + (keysym - XK_KP_0));
    switch (keysym) {
    case XK_BackSpace:
        return 8;
    case XK_Tab:
        return 9;
    case XK_Return:
    case XK_KP_Enter:
        return 13;
    case XK_Escape:
        return 27;
    case XK_KP_Space:
        return ' ';
    case XK_KP_Add:
        return '+';
    case XK_KP_Subtract:
        return '-';
    case XK_KP_Multiply:
        return '*';
    case XK_KP_Divide:
        return '/';
    case XK_KP_Decimal:
        return '.';
    default:
        return 0;
    }
}
