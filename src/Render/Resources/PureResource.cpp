#include "Render/Resources/PureResource.h"

TW_REGISTER_CLASS(C_PureResource)

C_PureResource::C_PureResource() { ResourceLevel = 9999; }
C_PureResource::~C_PureResource() = default;
void C_PureResource::Load(IDirect3DDevice9*) {}
