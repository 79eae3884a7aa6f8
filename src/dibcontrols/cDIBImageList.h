// The image list: a numbered collection of stored skin images, handed out to controls through
// small references (list + index). Handing out costs no pixel copy: the list's one view image
// shares the item's pixels, so a fetched image is valid until the next fetch from the same list.
// User-interface thread only.
#pragma once

#include "dibcontrols/cDIB.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

class TCustomDIBImageList;
class TDIBImages;
class TDIBImagesItem;

enum TDIBImageRetrieval { irInternal = 0, irLoadOnStart = 1, irLoadOnDemand = 2 };

// What happened to the item a reference points at.
enum TDIBImageChange { dicChanged, dicDeleted };

// One property of an item's stored form, as the form description carries it.
struct TDIBIdentifier {
    std::string Name;
    friend bool operator==(const TDIBIdentifier&, const TDIBIdentifier&) = default;
};
using TDIBPropertyValue =
    std::variant<int64_t, bool, long double, std::string, TDIBIdentifier, std::vector<uint8_t>>;
struct TDIBStoredProperty {
    std::string Name;
    TDIBPropertyValue Value;
};

// Receives the directory part of a stored image path and may replace it.
using TDIBTranslateImagePathEvent = std::function<void(TDIBImagesItem& sender, std::string& path)>;

class TDIBImagesItem {
  public:
    explicit TDIBImagesItem(TDIBImages& collection);
    ~TDIBImagesItem();
    TDIBImagesItem(const TDIBImagesItem&) = delete;
    TDIBImagesItem& operator=(const TDIBImagesItem&) = delete;

    TDIBImages& Collection() const { return fCollection; }
    int Index() const;
    // Moves the item; references follow it (see TDIBImages::Move).
    void SetIndex(int index);

    // The image, its source resolved first (a file-backed item loads here; a file that cannot be
    // read throws and the item stays unloaded).
    TMemoryDIB& DIB();
    // The image as it is, without resolving (for the stored form).
    TMemoryDIB& StoredDIB() { return fDIB; }
    const TMemoryDIB& StoredDIB() const { return fDIB; }
    // Copies size, pixels, settings and file names of the given image.
    void SetDIB(const TAbstractSuperDIB& image) { fDIB.Assign(image); }

    const std::string& TemplateFilename() const { return fTemplateFilename; }
    void SetTemplateFilename(std::string value) { fTemplateFilename = std::move(value); }
    const std::string& DisplayName() const { return fDisplayName; }
    void SetDisplayName(std::string value) { fDisplayName = std::move(value); }
    bool ImageLoaded() const { return fImageLoaded; }
    TDIBImageRetrieval ImageRetrieval() const { return fImageRetrieval; }
    void SetImageRetrieval(TDIBImageRetrieval value);
    void SetOnTranslateImagePath(TDIBTranslateImagePathEvent handler) {
        fOnTranslateImagePath = std::move(handler);
    }

    // The stored form: properties in the order written, each only when it is written.
    std::vector<TDIBStoredProperty> StoredProperties() const;
    // Sets one stored property by name (as read from a form description, in stored order).
    // Throws EDIBError for an unknown name or a value of the wrong kind.
    void ReadStoredProperty(const std::string& name, const TDIBPropertyValue& value);

    // Resolves the image source once (irInternal: nothing to do).
    void ResolveImage();
    // The file a stored path refers to after translation.
    std::string TranslatePath(const std::string& stored);

  private:
    TDIBImages& fCollection;
    TMemoryDIB fDIB;
    std::string fTemplateFilename;
    std::string fDisplayName = "TDIBImagesItem";
    bool fImageLoaded = false;
    TDIBImageRetrieval fImageRetrieval = irInternal;
    TDIBTranslateImagePathEvent fOnTranslateImagePath;
};

class TDIBImages {
  public:
    explicit TDIBImages(TCustomDIBImageList& list) : fList(list) {}
    ~TDIBImages();
    TDIBImages(const TDIBImages&) = delete;
    TDIBImages& operator=(const TDIBImages&) = delete;

    TCustomDIBImageList& ImageList() const { return fList; }
    int Count() const { return int(fItems.size()); }
    TDIBImagesItem& Items(int index) { return *fItems.at(size_t(index)); }
    TDIBImagesItem& operator[](int index) { return Items(index); }
    TDIBImagesItem& Add();
    TDIBImagesItem& Insert(int index);
    // Frees the item; references to it hear of the deletion after it is gone.
    void Delete(int index);
    void Clear();
    void Move(int from, int to);
    int IndexOf(const TDIBImagesItem& item) const;
    // The item whose template key is "<guid>:<number>", added if there is none.
    TDIBImagesItem& FindOrAdd(const std::string& guidText, int number);

    // From the items.
    void ItemChanged(const TDIBImagesItem& item);

  private:
    TCustomDIBImageList& fList;
    std::vector<std::unique_ptr<TDIBImagesItem>> fItems;
};

// A control's reference to one image of a list.
class TDIBImageLink {
  public:
    using TChangeEvent = std::function<void(TDIBImageLink& sender, int index, TDIBImageChange)>;

    explicit TDIBImageLink(void* owner = nullptr) : fOwner(owner) {}
    ~TDIBImageLink();
    TDIBImageLink(const TDIBImageLink&) = delete;
    TDIBImageLink& operator=(const TDIBImageLink&) = delete;

    void* Owner() const { return fOwner; }
    // Set by the owner while it is being destroyed: no more callbacks.
    void SetOwnerDestroying(bool value) { fOwnerDestroying = value; }

    TCustomDIBImageList* DIBImageList() const { return fList; }
    void SetDIBImageList(TCustomDIBImageList* list);
    int DIBIndex() const { return fIndex; }
    void SetDIBIndex(int index);
    void SetOnChange(TChangeEvent callback) { fOnChange = std::move(callback); }
    // Copies list and index.
    void Assign(const TDIBImageLink& source);

    // The image, valid until the next fetch from the same list; false without one.
    bool GetImage(TAbstractSuperDIB*& image);
    // A list is set and the index lies within it (pixels not required).
    bool IsValid() const;

    // From the list.
    void Notify(int index, TDIBImageChange kind);
    void ItemMoved(int from, int to);
    void ListDestroyed() { fList = nullptr; }

  private:
    void* fOwner;
    TCustomDIBImageList* fList = nullptr;
    int fIndex = -1;
    TChangeEvent fOnChange;
    bool fOwnerDestroying = false;
};

class TCustomDIBImageList {
  public:
    TCustomDIBImageList();
    virtual ~TCustomDIBImageList();
    TCustomDIBImageList(const TCustomDIBImageList&) = delete;
    TCustomDIBImageList& operator=(const TCustomDIBImageList&) = delete;

    virtual const char* ClassName() const { return "TCustomDIBImageList"; }

    TDIBImages& DIBImages() { return fImages; }

    // Adds the link once, then tells it about every item in order.
    void AttachLink(TDIBImageLink& link);
    void DetachLink(TDIBImageLink& link);
    bool IsAttached(const TDIBImageLink& link) const;

    // Makes the shared view show item `index` and returns it; false for no image.
    bool GetImage(int index, TAbstractSuperDIB*& image);
    TMemoryDIB& View() { return fView; }

    // Called when the stored form has been read: loads the irLoadOnStart items.
    virtual void Loaded();

    // From the collection.
    void ItemChanged(int index);
    void ItemDeleted(int index);
    void ItemMoved(int from, int to);

  private:
    void NotifyLinks(int index, TDIBImageChange kind);

    TDIBImages fImages{*this};
    std::vector<TDIBImageLink*> fLinks;
    TMemoryDIB fView{1, 1};
};

class TDIBImageList : public TCustomDIBImageList {
  public:
    const char* ClassName() const override { return "TDIBImageList"; }
};
