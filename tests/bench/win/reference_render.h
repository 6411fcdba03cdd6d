#pragma once
// The program's rendering as it was before the speed work (see the .cpp).
#include "display/draw_context.h"

// Fills in the reference's own drawing tools, made as the program makes its.
void CreateReferenceTools(DrawContext& context);

// Draws the three panels onto context.surface exactly as the program used to.
void RenderReferencePanels(DrawContext& context, const MeasurementStore& store);
