#include "dibcontrols/cDIBImageList.h"

#include <algorithm>

// --- items

TDIBImagesItem::TDIBImagesItem(TDIBImages& collection) : fCollection(collection), fDIB(1, 1) {
    fDIB.SetOnChange([this](TAbstractSuperDIB&) { fCollection.ItemChanged(*this); });
}

TDIBImagesItem::~TDIBImagesItem() { fDIB.SetOnChange(nullptr); }

int TDIBImagesItem::Index() const { return fCollection.IndexOf(*this); }

void TDIBImagesItem::SetIndex(int index) { fCollection.Move(Index(), index); }

TMemoryDIB& TDIBImagesItem::DIB() {
    ResolveImage();
    return fDIB;
}

void TDIBImagesItem::SetImageRetrieval(TDIBImageRetrieval value) {
    fImageRetrieval = value;
    fDIB.SetStoreData(value == irInternal);
}

void TDIBImagesItem::ResolveImage() {
    if (fImageLoaded)
        return;
    if (fImageRetrieval == irInternal) {
        fImageLoaded = true;
        return;
    }
    if (fDIB.ImageFilename().empty())
        return; // tried again at the next fetch
    // The stored names stay as written; only this load uses the translated paths.
    const std::string imageFile = fDIB.ImageFilename();
    const std::string maskFile = fDIB.MaskFilename();
    fDIB.BeginUpdate();
    try {
        fDIB.LoadFromFile(TranslatePath(imageFile));
        if (!maskFile.empty())
            fDIB.ImportMask(TranslatePath(maskFile));
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

std::string TDIBImagesItem::TranslatePath(const std::string& stored) {
    if (!fOnTranslateImagePath)
        return stored;
    const size_t cut = stored.find_last_of("/\\");
    std::string directory = cut == std::string::npos ? std::string() : stored.substr(0, cut + 1);
    const std::string file = cut == std::string::npos ? stored : stored.substr(cut + 1);
    fOnTranslateImagePath(*this, directory);
    if (directory.empty())
        return file;
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

TDIBImagesItem& TDIBImages::Add() { return Insert(Count()); }

TDIBImagesItem& TDIBImages::Insert(int index) {
    index = std::clamp(index, 0, Count());
    auto item = std::make_unique<TDIBImagesItem>(*this);
    TDIBImagesItem& ref = *item;
    fItems.insert(fItems.begin() + index, std::move(item));
    return ref;
}

void TDIBImages::Delete(int index) {
    if (index < 0 || index >= Count())
        return;
    fItems.erase(fItems.begin() + index);
    fList.ItemDeleted(index);
}

void TDIBImages::Clear() {
    while (Count() > 0)
        Delete(Count() - 1);
}

void TDIBImages::Move(int from, int to) {
    if (from < 0 || from >= Count())
        return;
    to = std::clamp(to, 0, Count() - 1);
    if (from == to)
        return;
    auto item = std::move(fItems[size_t(from)]);
    fItems.erase(fItems.begin() + from);
    fItems.insert(fItems.begin() + to, std::move(item));
    fList.ItemMoved(from, to);
}

int TDIBImages::IndexOf(const TDIBImagesItem& item) const {
    for (size_t i = 0; i < fItems.size(); ++i)
        if (fItems[i].get() == &item)
            return int(i);
    return -1;
}

TDIBImagesItem& TDIBImages::FindOrAdd(const std::string& guidText, int number) {
    const std::string key = guidText + ":" + std::to_string(number);
    for (auto& item : fItems)
        if (item->TemplateFilename() == key)
            return *item;
    TDIBImagesItem& item = Add();
    item.SetTemplateFilename(key);
    return item;
}

void TDIBImages::ItemChanged(const TDIBImagesItem& item) {
    const int index = IndexOf(item);
    if (index >= 0)
        fList.ItemChanged(index);
}

// --- links

TDIBImageLink::~TDIBImageLink() {
    if (fList)
        fList->DetachLink(*this);
}

void TDIBImageLink::SetDIBImageList(TCustomDIBImageList* list) {
    if (fList)
        fList->DetachLink(*this);
    fList = list;
    if (fList)
        fList->AttachLink(*this);
}

void TDIBImageLink::SetDIBIndex(int index) {
    if (index == fIndex)
        return;
    fIndex = index;
    if (fOnChange)
        fOnChange(*this, index, dicChanged);
}

void TDIBImageLink::Assign(const TDIBImageLink& source) {
    if (&source == this)
        return;
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
    if (fOwnerDestroying)
        return;
    if (kind == dicChanged && index != fIndex)
        return;
    if (kind == dicDeleted && index > fIndex)
        return;
    if (kind == dicDeleted && index < fIndex) {
        --fIndex;
        return;
    }
    // Our own item. After a deletion the reference is cleared before the callback runs, so a
    // callback that fetches the image never gets the item that moved into the freed place.
    if (kind == dicDeleted)
        fIndex = -1;
    if (fOnChange)
        fOnChange(*this, index, kind);
}

void TDIBImageLink::ItemMoved(int from, int to) {
    if (fIndex < 0)
        return;
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
    if (!IsAttached(link))
        fLinks.push_back(&link);
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
    if (index < 0 || index >= fImages.Count())
        return false;
    TMemoryDIB& source = fImages.Items(index).DIB();
    if (!source.HasPixels())
        return false;
    fView.ShareFrom(source);
    image = &fView;
    return true;
}

void TCustomDIBImageList::Loaded() {
    for (int i = 0; i < fImages.Count(); ++i)
        if (fImages.Items(i).ImageRetrieval() == irLoadOnStart)
            fImages.Items(i).ResolveImage();
}

void TCustomDIBImageList::NotifyLinks(int index, TDIBImageChange kind) {
    // A callback may attach, detach or destroy links: walk a snapshot and skip any that left.
    const std::vector<TDIBImageLink*> snapshot = fLinks;
    for (TDIBImageLink* link : snapshot)
        if (IsAttached(*link))
            link->Notify(index, kind);
}

void TCustomDIBImageList::ItemChanged(int index) { NotifyLinks(index, dicChanged); }

void TCustomDIBImageList::ItemDeleted(int index) { NotifyLinks(index, dicDeleted); }

void TCustomDIBImageList::ItemMoved(int from, int to) {
    for (TDIBImageLink* link : fLinks)
        link->ItemMoved(from, to);
}
