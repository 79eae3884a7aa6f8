// Text labels.
#pragma once

#include "framework/controls.h"

#include <string>
#include <string_view>

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout { tlTop, tlCenter, tlBottom };

// A window-less text label: one line per line break, each aligned on its own.
class TLabel : public TGraphicControl {
  public:
    explicit TLabel(TComponent* owner);
    std::string_view ClassName() const override { return "TLabel"; }

    std::string Caption() const { return fCaption; }
    void SetCaption(std::string_view caption);
    TAlignment Alignment() const { return fAlignment; }
    void SetAlignment(TAlignment alignment);
    TTextLayout Layout() const { return fLayout; }
    void SetLayout(TTextLayout layout);
    // Fits the size to the caption; a right-justified label keeps its right edge.
    bool AutoSize() const { return fAutoSize; }
    void SetAutoSize(bool autoSize);
    // Without a background the pixels beneath show between the letters.
    bool Transparent() const { return fTransparent; }
    void SetTransparent(bool transparent);
    // "&x" shows x (the accelerator mark) and "&&" shows "&".
    bool ShowAccelChar() const { return fShowAccelChar; }
    void SetShowAccelChar(bool show);

    void Loaded() override;
    void Paint(TCanvas& canvas) override;

  protected:
    void FontChanged() override;
    // Re-measures for AutoSize.
    void AdjustBounds();

  private:
    // The caption as drawn.
    std::string DisplayText() const;

    std::string fCaption;
    TAlignment fAlignment = taLeftJustify;
    TTextLayout fLayout = tlTop;
    bool fAutoSize = true;
    bool fTransparent = false;
    bool fShowAccelChar = true;
};
