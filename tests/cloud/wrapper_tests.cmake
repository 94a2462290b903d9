# The download engine wrapper against the real engine and two tiny stand-in libraries.
foreach(kind initonly initzero)
  add_library(xldl_${kind} MODULE fake_engine.cpp ${CMAKE_CURRENT_SOURCE_DIR}/fake_engine.def)
  string(TOUPPER ${kind} _upper)
  target_compile_definitions(xldl_${kind} PRIVATE FAKE_ENGINE_${_upper})
  set_target_properties(xldl_${kind} PROPERTIES PREFIX "" OUTPUT_NAME xldl
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/${kind}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/${kind})
endforeach()

vorlane_add_test(down_wrapper_test SOURCES down_wrapper_test.cpp LIBS vl_cloud)
add_dependencies(down_wrapper_test xldl xldl_initonly xldl_initzero)
