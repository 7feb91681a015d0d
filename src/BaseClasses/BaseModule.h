#pragma once
// A group of scene objects read from an XML module file. The module lists
// its objects and cameras (it owns neither), updates them every frame,
// measures their distances to its cameras, picks the object under the
// cursor and queues the visible ones for drawing. Modules nest.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include <tinyxml.h>

#include "BaseClasses/BaseResource.h"
#include "Common/vector.h"
#include "ResourceManager/FromFactory.h"

// The XML document types the module keeps.
namespace C_XMLBase {
using ::TiXmlDocument;
using ::TiXmlElement;
using ::TiXmlNode;
}

// Marker: only objects of classes derived from this are listed by a module
// when they come from plain elements of its file.
class ContainedInModule {};

class C_BaseCamera;

class C_BaseModule : public C_BaseResource, public VORTALEX::vector<C_BaseObject*, 100> {
    TW_POOLED_CLASS(C_BaseModule)

public:
    C_BaseModule();
    ~C_BaseModule() override;

    void AddToRenderQueue() override;                 // 10
    void ClearDistances() override;                   // 11
    void CalcDistance(C_BaseObject* other) override;  // 12
    void Update() override;                           // 15
    void Load(IDirect3DDevice9* device) override;     // 21
    void Unload() override;                           // 22

    // Loads a module file (read through the file manager) into this module.
    C_BaseModule& operator<<(const std::wstring& path);

    // Processes the child elements of `node` into `parent`.
    void CreateObjectsFromXML(C_BaseModule* root, C_BaseModule* parent, C_XMLBase::TiXmlNode* node);

    // Puts an object into this module's lists (cameras into the camera
    // list). Refuses, with a warning, a module that would end up inside
    // itself. False when refused.
    bool AddToModule(C_BaseObject* object);

    // True when `module` is this module or is listed somewhere below it.
    bool Contains(const C_BaseModule* module) const;

    // What the camera and input code provide; without them a module has no
    // cameras and picks nothing.
    struct C_CameraSupport {
        C_BaseCamera* (*AsCamera)(C_BaseObject* object) = nullptr;        // null: not a camera
        C_BaseObject* (*CameraObject)(C_BaseCamera* camera) = nullptr;
        bool (*ViewportContains)(C_BaseCamera* camera, int32_t x, int32_t y) = nullptr;
        void (*SetObjectUnderCursor)(C_BaseCamera* camera, C_BaseObject* object) = nullptr;
    };
    static C_CameraSupport CameraSupport;

    // Picking of the object under the cursor through a camera (input code).
    using PickObjectFunction = C_BaseObject* (*)(C_BaseModule* module, C_BaseCamera* camera);
    static PickObjectFunction PickObject;

    VORTALEX::vector<C_BaseCamera*, 100> Cameras;      // not owned
    bool BoundsComputed = false;
    std::shared_ptr<C_XMLBase::TiXmlDocument> Document;
    VORTALEX::vector<C_XMLBase::TiXmlElement*, 100> DeferredElements;

private:
    void CalcBoundingSphere();
    void RemoveReleasedObjects();
    void LoadFile(const std::wstring& path, int depth);
    void CreateObjectsFromXML(C_BaseModule* root, C_BaseModule* parent, C_XMLBase::TiXmlNode* node, int depth);
    C_BaseObject* CameraObject(C_BaseCamera* camera) const;

    // Fast membership test for the object list.
    std::unordered_set<C_BaseObject*> m_Members;
    // The documents that DeferredElements point into (this module's own or
    // the file of an enclosing module), kept alive until Load has used them.
    std::vector<std::shared_ptr<C_XMLBase::TiXmlDocument>> m_RetainedDocuments;
};
