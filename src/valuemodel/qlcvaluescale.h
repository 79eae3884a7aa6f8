// Value scales: the curves between a parameter's normalised value (0..1) and the fraction of a
// control's travel (0..1) at which a knob or slider shows it. Stateless: one instance of each kind
// serves every component that uses that curve.
#pragma once

class QLCvalueScale {
  public:
    QLCvalueScale() = default;
    virtual ~QLCvalueScale() = default;

    // Both directions compute in extended precision and round the result to a float. An argument
    // outside 0..1 (never sent by the editor) is first clamped into it, not-a-number taken as 0,
    // so every result lies in 0..1 and a component can turn it into a control position safely.
    virtual float ToPosition(float value) const;
    virtual float FromPosition(float fraction) const;
};

// Square root law: the middle of the travel is a quarter of the range.
class QLCsquareValueScale : public QLCvalueScale {
  public:
    float ToPosition(float value) const override;
    float FromPosition(float fraction) const override;
};

class QLCcubicValueScale : public QLCvalueScale {
  public:
    float ToPosition(float value) const override;
    float FromPosition(float fraction) const override;
};

// Fourth root law: the middle of the travel is a sixteenth of the range.
class QLCexp4ValueScale : public QLCvalueScale {
  public:
    float ToPosition(float value) const override;
    float FromPosition(float fraction) const override;
};

// Value 1 at position 0: the top of a vertical slider.
class QLCinvertValueScale : public QLCvalueScale {
  public:
    float ToPosition(float value) const override;
    float FromPosition(float fraction) const override;
};

class QLCsquareInvertValueScale : public QLCvalueScale {
  public:
    float ToPosition(float value) const override;
    float FromPosition(float fraction) const override;
};
