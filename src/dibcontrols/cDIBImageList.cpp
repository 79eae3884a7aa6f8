#include "dibcontrols/cDIBImageList.h"

#include <algorithm>
#include <cstdint>

// --- items

TDIBImagesItem::TDIBImagesItem(TDIBImages& collection) : fCollection(collection), fDIB(1, 1) {
    fDIB.SetOnChange([this](TAbstractSuperDIB&) { fCollection.ItemChanged(*this); });
}

TDIBImagesItem::~TDIBImagesItem() {
    fDIB.SetOnChange(nullptr);
}

int TDIBImagesItem::Index() const {
    return fCollection.IndexOf(*this);
}

void TDIBImagesItem::SetIndex(int index) {
    fCollection.Move(Index(), index);
}

TMemoryDIB& TDIBImagesItem::DIB() {
    ResolveImage();
    return fDIB;
}

void TDIBImagesItem::SetImageRetrieval(TDIBImageRetrieval value) {
    fImageRetrieval = value;
    fDIB.SetStoreData(value == irInternal);
}

void TDIBImagesItem::ResolveImage() {
    if (fImageLoaded) return;
    if (fImageRetrieval == irInternal) {
        fImageLoaded = true;
        return;
    }
    if (fDIB.ImageFilename().empty()) return; // tried again at the next fetch
    // The stored names stay as written; only this load uses the translated paths.
    const std::string imageFile = fDIB.ImageFilename();
    const std::string maskFile = fDIB.MaskFilename();
    fDIB.BeginUpdate();
    try {
        fDIB.LoadFromFile(TranslatePath(imageFile));
        if (!maskFile.empty()) fDIB.ImportMask(TranslatePath(maskFile));
        fImageLoaded = true;
    } catch (...) {
        fDIB.SetImageFilename(imageFile);
        fDIB.SetMaskFilename(maskFile);
        fDIB.EndUpdate();
        throw;
    }
    fDIB.SetImageFilename(imageFile);
    fDIB.SetMaskFilename(maskFile);
    fDIB.EndUpdate();
}

namespace {

const char* const kRetrievalNames[] = {"irInternal", "irLoadOnStart", "irLoadOnDemand"};
const char* const kModeNames[] = {"tmAuto", "tmFixed"};

template <class T> const T& expect(const std::string& name, const TDIBPropertyValue& value) {
    if (const T* v = std::get_if<T>(&value)) return *v;
    throw EDIBError("Property " + name + " has a value of the wrong kind.");
}

int64_t expectInt(const std::string& name, const TDIBPropertyValue& value, int64_t lo, int64_t hi) {
    const int64_t v = expect<int64_t>(name, value);
    if (v < lo || v > hi)
        throw EDIBError("Property " + name + " is out of range: " + std::to_string(v) + ".");
    return v;
}

template <size_t N>
int identifierIndex(const std::string& name, const TDIBPropertyValue& value,
                    const char* const (&names)[N]) {
    const std::string& id = expect<TDIBIdentifier>(name, value).Name;
    for (size_t i = 0; i < N; ++i)
        if (id == names[i]) return int(i);
    throw EDIBError("Property " + name + " has an unknown value " + id + ".");
}

} // namespace

std::vector<TDIBStoredProperty> TDIBImagesItem::StoredProperties() const {
    std::vector<TDIBStoredProperty> out;
    if (fImageRetrieval != irInternal)
        out.push_back({"ImageRetrieval", TDIBIdentifier{kRetrievalNames[fImageRetrieval]}});
    out.push_back({"DIB.Angle", int64_t(fDIB.Angle())});
    out.push_back({"DIB.AutoSize", fDIB.AutoSize()});
    out.push_back({"DIB.Height", int64_t(fDIB.Height())});
    out.push_back({"DIB.Masked", fDIB.Masked()});
    out.push_back({"DIB.Opacity", int64_t(fDIB.Opacity())});
    out.push_back({"DIB.Scale", fDIB.Scale()});
    out.push_back({"DIB.Transparent", fDIB.Transparent()});
    // For tmAuto this is the first stored pixel's colour, so key and picture agree on reading.
    out.push_back({"DIB.TransparentColor", int64_t(fDIB.TransparentColor())});
    out.push_back({"DIB.TransparentMode", TDIBIdentifier{kModeNames[fDIB.TransparentMode()]}});
    out.push_back({"DIB.Width", int64_t(fDIB.Width())});
    if (fDIB.HasPixels()) out.push_back({"DIB.Data", fDIB.SaveToStream()});
    if (!fDIB.ImageFilename().empty()) out.push_back({"DIB.ImageFilename", fDIB.ImageFilename()});
    if (!fDIB.MaskFilename().empty()) out.push_back({"DIB.MaskFilename", fDIB.MaskFilename()});
    out.push_back({"DisplayName", fDisplayName});
    if (!fTemplateFilename.empty()) out.push_back({"TemplateFilename", fTemplateFilename});
    return out;
}

void TDIBImagesItem::ReadStoredProperty(const std::string& name, const TDIBPropertyValue& value) {
    if (name == "ImageRetrieval")
        SetImageRetrieval(TDIBImageRetrieval(identifierIndex(name, value, kRetrievalNames)));
    else if (name == "DIB.Angle")
        fDIB.SetAngle(int(expectInt(name, value, 0, 65535)));
    else if (name == "DIB.AutoSize")
        fDIB.SetAutoSize(expect<bool>(name, value));
    else if (name == "DIB.Height")
        fDIB.SetHeight(int(expectInt(name, value, 0, 65535)));
    else if (name == "DIB.Masked")
        fDIB.SetMasked(expect<bool>(name, value));
    else if (name == "DIB.Opacity")
        fDIB.SetOpacity(uint8_t(expectInt(name, value, 0, 255)));
    else if (name == "DIB.Scale")
        fDIB.SetScale(std::holds_alternative<int64_t>(value)
                          ? static_cast<long double>(std::get<int64_t>(value))
                          : expect<long double>(name, value));
    else if (name == "DIB.Transparent")
        fDIB.SetTransparent(expect<bool>(name, value));
    else if (name == "DIB.TransparentColor")
        fDIB.SetTransparentColor(TColor(expectInt(name, value, INT32_MIN, INT32_MAX)));
    else if (name == "DIB.TransparentMode")
        fDIB.SetTransparentMode(TTransparentMode(identifierIndex(name, value, kModeNames)));
    else if (name == "DIB.Width")
        fDIB.SetWidth(int(expectInt(name, value, 0, 65535)));
    else if (name == "DIB.Data")
        fDIB.LoadFromStream(expect<std::vector<uint8_t>>(name, value));
    else if (name == "DIB.ImageFilename")
        fDIB.SetImageFilename(expect<std::string>(name, value));
    else if (name == "DIB.MaskFilename")
        fDIB.SetMaskFilename(expect<std::string>(name, value));
    else if (name == "DisplayName")
        SetDisplayName(expect<std::string>(name, value));
    else if (name == "TemplateFilename")
        SetTemplateFilename(expect<std::string>(name, value));
    else
        throw EDIBError("Unknown image property " + name + ".");
}

std::string TDIBImagesItem::TranslatePath(const std::string& stored) {
    if (!fOnTranslateImagePath) return stored;
    const size_t cut = stored.find_last_of("/\\");
    std::string directory = cut == std::string::npos ? std::string() : stored.substr(0, cut + 1);
    const std::string file = cut == std::string::npos ? stored : stored.substr(cut + 1);
    fOnTranslateImagePath(*this, directory);
    if (directory.empty()) return file;
    if (directory.back() != '/' && directory.back() != '\\') {
#ifdef _WIN32
        directory += '\\';
#else
        directory += '/';
#endif
    }
    return directory + file;
}

// --- collection

TDIBImages::~TDIBImages() {
    // Items go without notifications: the list that would forward them is being destroyed.
    fItems.clear();
}

TDIBImagesItem& TDIBImages::Add() {
    return Insert(Count());
}

TDIBImagesItem& TDIBImages::Insert(int index) {
    index = std::clamp(index, 0, Count());
    auto item = std::make_unique<TDIBImagesItem>(*this);
    TDIBImagesItem& ref = *item;
    fItems.insert(fItems.begin() + index, std::move(item));
    return ref;
}

void TDIBImages::Delete(int index) {
    if (index < 0 || index >= Count()) return;
    fItems.erase(fItems.begin() + index);
    fList.ItemDeleted(index);
}

void TDIBImages::Clear() {
    while (Count() > 0)
        Delete(Count() - 1);
}

void TDIBImages::Move(int from, int to) {
    if (from < 0 || from >= Count()) return;
    to = std::clamp(to, 0, Count() - 1);
    if (from == to) return;
    auto item = std::move(fItems[size_t(from)]);
    fItems.erase(fItems.begin() + from);
    fItems.insert(fItems.begin() + to, std::move(item));
    fList.ItemMoved(from, to);
}

int TDIBImages::IndexOf(const TDIBImagesItem& item) const {
    for (size_t i = 0; i < fItems.size(); ++i)
        if (fItems[i].get() == &item) return int(i);
    return -1;
}

TDIBImagesItem& TDIBImages::FindOrAdd(const std::string& guidText, int number) {
    const std::string key = guidText + ":" + std::to_string(number);
    for (auto& item : fItems)
        if (item->TemplateFilename() == key) return *item;
    TDIBImagesItem& item = Add();
    item.SetTemplateFilename(key);
    return item;
}

void TDIBImages::ItemChanged(const TDIBImagesItem& item) {
    const int index = IndexOf(item);
    if (index >= 0) fList.ItemChanged(index);
}

// --- links

TDIBImageLink::~TDIBImageLink() {
    if (fList) fList->DetachLink(*this);
}

void TDIBImageLink::SetDIBImageList(TCustomDIBImageList* list) {
    if (fList) fList->DetachLink(*this);
    fList = list;
    if (fList) fList->AttachLink(*this);
}

void TDIBImageLink::SetDIBIndex(int index) {
    if (index == fIndex) return;
    fIndex = index;
    if (fOnChange) fOnChange(*this, index, dicChanged);
}

void TDIBImageLink::Assign(const TDIBImageLink& source) {
    if (&source == this) return;
    fIndex = source.fIndex;
    SetDIBImageList(source.fList);
}

bool TDIBImageLink::GetImage(TAbstractSuperDIB*& image) {
    image = nullptr;
    return fList && fList->GetImage(fIndex, image);
}

bool TDIBImageLink::IsValid() const {
    return fList && fIndex >= 0 && fIndex < fList->DIBImages().Count();
}

void TDIBImageLink::Notify(int index, TDIBImageChange kind) {
    if (fOwnerDestroying) return;
    if (kind == dicChanged && index != fIndex) return;
    if (kind == dicDeleted && index > fIndex) return;
    if (kind == dicDeleted && index < fIndex) {
        --fIndex;
        return;
    }
    // Our own item. After a deletion the reference is cleared before the callback runs, so a
    // callback that fetches the image never gets the item that moved into the freed place.
    if (kind == dicDeleted) fIndex = -1;
    if (fOnChange) fOnChange(*this, index, kind);
}

void TDIBImageLink::ItemMoved(int from, int to) {
    if (fIndex < 0) return;
    if (fIndex == from)
        fIndex = to;
    else if (from < to && fIndex > from && fIndex <= to)
        --fIndex;
    else if (from > to && fIndex >= to && fIndex < from)
        ++fIndex;
}

// --- list

TCustomDIBImageList::TCustomDIBImageList() = default;

TCustomDIBImageList::~TCustomDIBImageList() {
    for (TDIBImageLink* link : fLinks)
        link->ListDestroyed();
    fLinks.clear();
}

void TCustomDIBImageList::AttachLink(TDIBImageLink& link) {
    if (!IsAttached(link)) fLinks.push_back(&link);
    for (int i = 0; i < fImages.Count() && IsAttached(link); ++i)
        link.Notify(i, dicChanged);
}

void TCustomDIBImageList::DetachLink(TDIBImageLink& link) {
    fLinks.erase(std::remove(fLinks.begin(), fLinks.end(), &link), fLinks.end());
}

bool TCustomDIBImageList::IsAttached(const TDIBImageLink& link) const {
    return std::find(fLinks.begin(), fLinks.end(), &link) != fLinks.end();
}

bool TCustomDIBImageList::GetImage(int index, TAbstractSuperDIB*& image) {
    image = nullptr;
    if (index < 0 || index >= fImages.Count()) return false;
    TMemoryDIB& source = fImages.Items(index).DIB();
    if (!source.HasPixels()) return false;
    fView.ShareFrom(source);
    image = &fView;
    return true;
}

void TCustomDIBImageList::Loaded() {
    for (int i = 0; i < fImages.Count(); ++i)
        if (fImages.Items(i).ImageRetrieval() == irLoadOnStart) fImages.Items(i).ResolveImage();
}

void TCustomDIBImageList::NotifyLinks(int index, TDIBImageChange kind) {
    // A callback may attach, detach or destroy links: walk a snapshot and skip any that left.
    const std::vector<TDIBImageLink*> snapshot = fLinks;
    for (TDIBImageLink* link : snapshot)
        if (IsAttached(*link)) link->Notify(index, kind);
}

void TCustomDIBImageList::ItemChanged(int index) {
    NotifyLinks(index, dicChanged);
}

void TCustomDIBImageList::ItemDeleted(int index) {
    NotifyLinks(index, dicDeleted);
}

void TCustomDIBImageList::ItemMoved(int from, int to) {
    for (TDIBImageLink* link : fLinks)
        link->ItemMoved(from, to);
}
