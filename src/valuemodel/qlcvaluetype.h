// Value types: the short texts the editor's labels show for a normalised value (0..1). Some carry
// an integer range, Max, which the editor's refresh changes while it runs (milliseconds follow the
// tempo, frequencies the sample rate). One instance of each serves every label of its kind.
#pragma once

#include <cstddef>
#include <cstdint>

class QLCvalueType {
  public:
    // The size of the label buffers ToText writes into; a text is cut to fit, never overruns.
    static constexpr size_t TextSize = 12;

    QLCvalueType() = default;
    virtual ~QLCvalueType() = default;

    // Writes the text for value into dest, a buffer of TextSize bytes. The base writes nothing.
    virtual void ToText(char* dest, float value) const;
};

// round(value x 100), halves to even: 0.125 shows 12.
class QLCpercentValueType : public QLCvalueType {
  public:
    void ToText(char* dest, float value) const override;
};

// Max x value milliseconds, no decimals.
class QLCmsValueType : public QLCvalueType {
  public:
    explicit QLCmsValueType(int32_t max) : max(max) {}
    int32_t Max() const { return max; }
    void SetMax(int32_t n) { max = n; }
    void ToText(char* dest, float value) const override;

  private:
    int32_t max;
};

// (value - 0.5) x Max milliseconds: an offset either side of the centre.
class QLCbidiMsValueType : public QLCvalueType {
  public:
    explicit QLCbidiMsValueType(int32_t max) : max(max) {}
    int32_t Max() const { return max; }
    void SetMax(int32_t n) { max = n; }
    void ToText(char* dest, float value) const override;

  private:
    int32_t max;
};

// Max x value sixteenths, one decimal. The range is fixed at construction.
class QLCrhythmValueType : public QLCvalueType {
  public:
    explicit QLCrhythmValueType(int32_t max) : max(max) {}
    int32_t Max() const { return max; }
    void ToText(char* dest, float value) const override;

  private:
    int32_t max;
};

// (value - 0.5) x Max sixteenths, one decimal.
class QLCbidiRhythmValueType : public QLCvalueType {
  public:
    explicit QLCbidiRhythmValueType(int32_t max) : max(max) {}
    int32_t Max() const { return max; }
    void ToText(char* dest, float value) const override;

  private:
    int32_t max;
};

// 20 log10(value) decibels, one decimal; "-INF" for 0.
class QLCdbValueType : public QLCvalueType {
  public:
    void ToText(char* dest, float value) const override;
};

// Max x value hertz: whole hertz below 1000, else kilohertz with one decimal and a "k".
class QLChzValueType : public QLCvalueType {
  public:
    explicit QLChzValueType(int32_t max) : max(max) {}
    int32_t Max() const { return max; }
    void SetMax(int32_t n) { max = n; }
    void ToText(char* dest, float value) const override;

  private:
    int32_t max;
};
