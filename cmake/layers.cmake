# The layer graph, written once: every folder of src/ and the layers its files may include and link.
# The build, the test, fuzz and benchmark targets and the include check (check_layers.cmake) all read it.
# A layer may use what its layers use in turn; nothing else, and never a layer above it.
set(FV_LAYER_NAMES platform core metadata image library thumbs service ui app)
set(FV_LAYER_DEPS_platform "")
set(FV_LAYER_DEPS_core platform)
set(FV_LAYER_DEPS_metadata platform)
set(FV_LAYER_DEPS_image metadata platform)
set(FV_LAYER_DEPS_library core metadata)
set(FV_LAYER_DEPS_thumbs library image)
set(FV_LAYER_DEPS_service core)
set(FV_LAYER_DEPS_ui thumbs service)
set(FV_LAYER_DEPS_app ui)

# Arrows the code still has and the graph does not want, each with its reason; the check allows
# them and names them on every run, so they stay in sight until their reason goes.
set(FV_LAYER_TEMPORARY_image core)
set(FV_LAYER_TEMPORARY_REASON_image
  "the viewer's picture loader (image_loader) runs on the engine's worker threads of core")

# fv_layer_closure(out name): the layers below name that it may use, nearest first (temporary arrows included)
function(fv_layer_closure out name)
  set(seen "")
  set(todo ${FV_LAYER_DEPS_${name}} ${FV_LAYER_TEMPORARY_${name}})
  while(todo)
    list(POP_FRONT todo d)
    if(NOT d IN_LIST seen)
      list(APPEND seen ${d})
      list(APPEND todo ${FV_LAYER_DEPS_${d}} ${FV_LAYER_TEMPORARY_${d}})
    endif()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()
