# The agent's metrics: a unit test of the accounting, and an end-to-end run with a real
# Prometheus server scraping the agent on loopback.
add_executable(agent_metrics_tests ${CMAKE_CURRENT_LIST_DIR}/agent_metrics_test.cpp)
target_link_libraries(agent_metrics_tests PRIVATE tessivo_agent_server GTest::gtest_main)
add_test(NAME agent_metrics_tests COMMAND agent_metrics_tests --gtest_brief=1)

if(TARGET tessivo-agent)
  add_executable(tessivo_io_writer ${CMAKE_CURRENT_LIST_DIR}/io_writer.cpp)
  target_link_libraries(tessivo_io_writer PRIVATE tessivo_proc)
  target_include_directories(tessivo_io_writer PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME agent_prometheus
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/prometheus_test.sh $<TARGET_FILE:tessivo-agent>
                   $<TARGET_FILE:tessivo_io_writer>)
  set_tests_properties(agent_prometheus PROPERTIES TIMEOUT 150)
  # The package is built from a release tree only; the sanitizers' tree would package
  # instrumented binaries.
  if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
    add_test(NAME agent_package COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package_test.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(agent_package PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
  endif()
endif()
