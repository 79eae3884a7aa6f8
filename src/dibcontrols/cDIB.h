// 32-bit pixel images and the one drawing operation every skinned control paints through.
//
// Pixels are four bytes each in the order blue, green, red, alpha (255 = opaque); rows are stored
// bottom-up without padding, so ScanLine(y) for picture row y (from the top) is
//   Pixels() + (Height() - 1 - y) * Width() * 4.
// Platform code can blit Pixels() directly as a bottom-up 32-bit bitmap.
//
// An image carries drawing settings (opacity, mask, colour key, rotation, scale). Each settings
// change re-chooses the row combiner once, so drawing runs one tight loop per row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

class EDIBError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A window-system colour: red in the lowest byte, then green, then blue, top byte 0. A value with
// the top bit set names a system colour and is resolved first.
using TColor = int32_t;
using TAngle = uint16_t;

enum TTransparentMode { tmAuto, tmFixed };

// Four signed values, all inclusive.
struct TDIBRect {
    int32_t Left = 0, Top = 0, Right = -1, Bottom = -1;
    friend bool operator==(const TDIBRect&, const TDIBRect&) = default;
};

// The row combiners, in the order of their formulas.
enum class TDIBRowRoutine : uint8_t {
    AlphaAsGrey,
    AlphaOnly,
    Opaque,
    Opacity,
    Masked,
    MaskedOpacity,
    Keyed,
    KeyedOpacity,
};

// System colours are the framework's business; it installs a resolver. Without one, a system
// colour resolves to its low 24 bits.
using TSystemColorResolver = uint32_t (*)(TColor color);
void SetSystemColorResolver(TSystemColorResolver resolver);
// 0x00BBGGRR of a colour, system colours resolved.
uint32_t ColorToRGB(TColor color);
// The pixel value (bytes B, G, R, 0) of a colour, and back.
uint32_t ColorToPixel(TColor color);
TColor PixelToColor(uint32_t pixel);

// The size Draw gives its intermediate image under AutoSize: the bounding box of a width x height
// rectangle turned by `angle` degrees and scaled by scaleX, scaleY percent, each side rounded up
// to an even number (at least 2).
void RotatedBoundingBox(int width, int height, TAngle angle, long double scaleX, long double scaleY,
                        int& outWidth, int& outHeight);

// 3x3 convolution: coefficients row by row (top row first), a bias per channel added after the
// division, results clamped to 0..255. Alpha is left alone; edge pixels repeat outward.
struct TDIBFilter {
    int16_t Coefficients[9] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
    int32_t BiasB = 0, BiasG = 0, BiasR = 0;
    int32_t Divisor = 1;
};

// What a row combiner reads besides the pixels. Held apart from the image so a view can draw with
// its source's live opacity and key without keeping a pointer that could dangle.
struct TDIBRoutineSettings {
    uint8_t Opacity = 255;
    uint32_t KeyColour = 0;
};

class TAbstractSuperDIB {
  public:
    using TChangeEvent = std::function<void(TAbstractSuperDIB&)>;

    virtual ~TAbstractSuperDIB();
    TAbstractSuperDIB(const TAbstractSuperDIB&) = delete;
    TAbstractSuperDIB& operator=(const TAbstractSuperDIB&) = delete;

    virtual const char* ClassName() const { return "TAbstractSuperDIB"; }

    // --- size and pixels
    int Width() const { return fWidth; }
    int Height() const { return fHeight; }
    void SetWidth(int value) { SetSize(value, fHeight); }
    void SetHeight(int value) { SetSize(fWidth, value); }
    // No effect at the current size. Otherwise new pixels (zeroed), a requested 0 becomes 1, and
    // ClipRect covers the whole image. Does not call Changed. Throws EDIBError for sizes outside
    // 0..65535 or too large to allocate, leaving the image unchanged.
    virtual void SetSize(int width, int height);
    bool HasPixels() const { return fPixels != nullptr; }
    bool OwnsPixels() const { return fOwnsPixels; }
    uint8_t* Pixels() { return reinterpret_cast<uint8_t*>(fPixels); }
    const uint8_t* Pixels() const { return reinterpret_cast<const uint8_t*>(fPixels); }
    size_t ByteSize() const { return size_t(fWidth) * size_t(fHeight) * 4; }
    uint32_t* ScanLine(int y) { return fPixels + ptrdiff_t(fHeight - 1 - y) * fWidth; }
    const uint32_t* ScanLine(int y) const { return fPixels + ptrdiff_t(fHeight - 1 - y) * fWidth; }
    // Pixel at picture column x, row y (from the top); no bounds check.
    uint32_t PixelAt(int x, int y) const { return ScanLine(y)[x]; }

    // --- settings (each setter that changes a value calls Changed)
    TAngle Angle() const { return fAngle; }
    // The value is taken as an unsigned 16-bit number and reduced modulo 360.
    virtual void SetAngle(int value);
    bool AutoSize() const { return fAutoSize; }
    virtual void SetAutoSize(bool value);
    bool Masked() const { return fMasked; }
    virtual void SetMasked(bool value);
    uint8_t Opacity() const { return fSettings->Opacity; }
    virtual void SetOpacity(uint8_t value);
    long double Scale() const { return fScaleX; }
    virtual void SetScale(long double value);
    long double ScaleX() const { return fScaleX; }
    virtual void SetScaleX(long double value);
    long double ScaleY() const { return fScaleY; }
    virtual void SetScaleY(long double value);
    bool Transparent() const { return fTransparent; }
    void SetTransparent(bool value);
    // tmFixed: the key colour; tmAuto: the colour of the first stored (bottom-left) pixel, or the
    // key colour while there are no pixels.
    TColor TransparentColor() const;
    void SetTransparentColor(TColor value);
    uint32_t KeyColour() const { return fSettings->KeyColour; }
    TTransparentMode TransparentMode() const { return fTransparentMode; }
    void SetTransparentMode(TTransparentMode value);
    const TDIBRect& ClipRect() const { return fClipRect; }
    // Normalised (reversed edges swapped) and clamped to the image.
    void SetClipRect(TDIBRect rect);
    TDIBRowRoutine RowRoutine() const { return fRowRoutine; }
    const TDIBRoutineSettings& RoutineSettings() const { return *fRoutineSettings; }

    // --- change notification
    void SetOnChange(TChangeEvent callback) { fOnChange = std::move(callback); }
    void BeginUpdate() { ++fUpdateCount; }
    void EndUpdate();
    int UpdateCount() const { return fUpdateCount; }
    // Re-chooses the row combiner and draws with this image's own settings from now on; then
    // calls the change callback unless an update is in progress.
    virtual void Changed();

    // --- drawing; rectangles that clip to nothing draw nothing and notify nobody
    virtual void Draw(int x, int y, int width, int height, TAbstractSuperDIB& dest, int srcX,
                      int srcY);
    // As Draw with no rotation or scale and a plain copy of all four bytes.
    virtual void DrawUntransformed(int x, int y, int width, int height, TAbstractSuperDIB& dest,
                                   int srcX, int srcY);
    virtual void DrawAlphaOnly(int x, int y, int width, int height, TAbstractSuperDIB& dest,
                               int srcX, int srcY);
    virtual void DrawAlphaAsGrey(int x, int y, int width, int height, TAbstractSuperDIB& dest,
                                 int srcX, int srcY);
    // Film strips: `frames` frames of Width() div frames pixels side by side.
    void DrawFrame(int x, int y, TAbstractSuperDIB& dest, int frames, int index);
    void DrawTween(int x, int y, bool loop, int position, int max, int min, TAbstractSuperDIB& dest,
                   int frames);
    // Rotates and scales the whole image about both centres into dest (8.8 fixed point).
    virtual void TransformInto(TAbstractSuperDIB& dest);

    // --- copying
    // Becomes a view of source's pixels (kept alive while the view exists) with its settings.
    virtual void ShareFrom(TAbstractSuperDIB& source);
    virtual void CopyPropertiesTo(TAbstractSuperDIB& dest) const;
    // Size, pixels and settings of source.
    virtual void Assign(const TAbstractSuperDIB& source);
    virtual void ResetSettings();

    // --- pixel operations
    virtual void Fill(TColor color);
    virtual void FillRect(TColor color, int x, int y, int width, int height);
    void SetAlpha(uint8_t alpha);
    // Nearest-neighbour resampling of all of source into this image's size.
    void StretchFrom(const TAbstractSuperDIB& source);
    virtual void ApplyFilter(const TDIBFilter& filter);

    // --- stored form (the DIB.Data block) and picture files
    // Length 0 leaves the image unchanged. Throws EDIBError (malformed) or EDIBCompressError.
    virtual void LoadFromStream(std::span<const uint8_t> block);
    virtual std::vector<uint8_t> SaveToStream() const;
    // The plain block of the current pixels: width, height (little-endian 16-bit), pixels.
    std::vector<uint8_t> PlainData() const;
    // JPEG and 24/32-bit BMP. A file that cannot be read throws and leaves the image as it was.
    virtual void LoadFromFile(const std::string& path);
    virtual void ImportMask(const std::string& path);

  protected:
    TAbstractSuperDIB();
    TAbstractSuperDIB(int width, int height);

  private:
    void ChooseRowRoutine();
    void FreePixels();
    void MakeEmpty();
    void DrawWith(TDIBRowRoutine routine, const TDIBRoutineSettings& settings, int x, int y,
                  int width, int height, TAbstractSuperDIB& dest, int srcX, int srcY);
    void DrawClipped(TDIBRowRoutine routine, const TDIBRoutineSettings& settings, int x, int y,
                     int width, int height, TAbstractSuperDIB& dest, int srcX, int srcY) const;
    void CopyFrame(int index, int frameWidth, TAbstractSuperDIB& into);

    TAngle fAngle = 0;
    bool fAutoSize = false;
    TDIBRect fClipRect;
    int fHeight = 0;
    bool fMasked = false;
    bool fOwnsPixels = true;
    long double fScaleX = 100.0L;
    long double fScaleY = 100.0L;
    bool fTransparent = false;
    TTransparentMode fTransparentMode = tmAuto;
    int fUpdateCount = 0;
    int fWidth = 0;
    TChangeEvent fOnChange;
    TDIBRowRoutine fRowRoutine = TDIBRowRoutine::Opaque;
    std::shared_ptr<TDIBRoutineSettings> fSettings;        // this image's opacity and key
    std::shared_ptr<TDIBRoutineSettings> fRoutineSettings; // what the combiner reads
    std::shared_ptr<uint32_t[]> fBuffer;                   // keeps viewed pixels alive
    uint32_t* fPixels = nullptr;
};

// An image whose pixels the platform layer copies to a window. Here a plain buffer; the blit lives
// with the platform backends.
class TCustomWinDIB : public TAbstractSuperDIB {
  public:
    TCustomWinDIB() = default;
    TCustomWinDIB(int width, int height) : TAbstractSuperDIB(width, height) {}
    explicit TCustomWinDIB(TAbstractSuperDIB& source) { ShareFrom(source); }
    const char* ClassName() const override { return "TCustomWinDIB"; }
};

class TWinDIB : public TCustomWinDIB {
  public:
    using TCustomWinDIB::TCustomWinDIB;
    const char* ClassName() const override { return "TWinDIB"; }
};

class TCustomMemoryDIB : public TAbstractSuperDIB {
  public:
    TCustomMemoryDIB() = default;
    TCustomMemoryDIB(int width, int height) : TAbstractSuperDIB(width, height) {}
    explicit TCustomMemoryDIB(TAbstractSuperDIB& source) { ShareFrom(source); }
    const char* ClassName() const override { return "TCustomMemoryDIB"; }

    const std::string& ImageFilename() const { return fImageFilename; }
    void SetImageFilename(std::string value) { fImageFilename = std::move(value); }
    const std::string& MaskFilename() const { return fMaskFilename; }
    void SetMaskFilename(std::string value) { fMaskFilename = std::move(value); }
    // Whether the stored form carries the pixels (false: an empty Data block).
    bool StoreData() const { return fStoreData; }
    void SetStoreData(bool value) { fStoreData = value; }

    void Assign(const TAbstractSuperDIB& source) override;
    std::vector<uint8_t> SaveToStream() const override;
    void LoadFromFile(const std::string& path) override;
    void ImportMask(const std::string& path) override;

  private:
    std::string fImageFilename;
    std::string fMaskFilename;
    bool fStoreData = true;
};

class TMemoryDIB : public TCustomMemoryDIB {
  public:
    using TCustomMemoryDIB::TCustomMemoryDIB;
    const char* ClassName() const override { return "TMemoryDIB"; }
};
