#include "render/Batches.h"

#include <algorithm>

namespace tallyloft::drawing {

void drawBatches(const std::vector<Batch>& batches, bool instancing, const SceneProgram& full,
                 const SceneProgram& plain, Renderer::Stats& stats) {
  const SceneProgram* program = nullptr;
  bool blending = false;
  bool culling = false;
  glDisable(GL_BLEND);
  glDisable(GL_CULL_FACE);
  glDepthMask(GL_TRUE);
  for (const Batch& batch : batches) {
    if ((batch.key.pass == Pass::blend) != blending) {
      blending = !blending;
      if (blending) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        glDepthMask(GL_FALSE);
      } else {
        glDisable(GL_BLEND);
        glDepthMask(GL_TRUE);
      }
    }
    if (batch.key.cullBack != culling) {
      culling = batch.key.cullBack;
      if (culling) {
        glEnable(GL_CULL_FACE);
      } else {
        glDisable(GL_CULL_FACE);
      }
    }
    const SceneProgram* wanted = drawnPlain(batch.key) ? &plain : &full;
    if (wanted != program) {
      program = wanted;
      glUseProgram(program->id());
    }
    glBindVertexArray(batch.key.mesh->vao);
    glUniform1i(program->litSwitch(), batch.key.lighting != Lighting::none);
    if (program->texturedSwitch() >= 0)
      glUniform1i(program->texturedSwitch(), batch.key.texture != 0);
    glBindTexture(GL_TEXTURE_2D, batch.key.texture);
    const std::size_t step = instancing ? batch.count : 1;
    for (std::size_t first = batch.first; first < batch.first + batch.count; first += step) {
      const std::size_t base = first * sizeof(Instance);
      for (GLuint column = 0; column < 6; ++column) {
        glVertexAttribPointer(3 + column, 4, GL_FLOAT, GL_FALSE, sizeof(Instance),
                              reinterpret_cast<void*>(base + column * 4 * sizeof(float)));
      }
      for (GLuint column = 0; column < 3; ++column) {
        glVertexAttribPointer(9 + column, 3, GL_FLOAT, GL_FALSE, sizeof(Instance),
                              reinterpret_cast<void*>(base + offsetof(Instance, normal) +
                                                      column * 3 * sizeof(float)));
      }
      glVertexAttribPointer(12, 4, GL_FLOAT, GL_FALSE, sizeof(Instance),
                            reinterpret_cast<void*>(base + offsetof(Instance, shape)));
      glDrawElementsInstanced(
          GL_TRIANGLES, batch.key.mesh->indexCount, GL_UNSIGNED_INT, nullptr,
          static_cast<GLsizei>(std::min(step, batch.first + batch.count - first)));
      ++stats.drawCalls;
    }
    stats.instances += static_cast<int>(batch.count);
    stats.vertices += static_cast<long long>(batch.count) * batch.key.mesh->vertexCount;
  }
}

}  // namespace tallyloft::drawing
