# The agent's metrics: a unit test of the accounting, and an end-to-end run with a real
# Prometheus server scraping the agent on loopback.
find_package(prometheus-cpp CONFIG REQUIRED)
add_executable(agent_metrics_tests ${CMAKE_CURRENT_LIST_DIR}/agent_metrics_test.cpp
               ${PROJECT_SOURCE_DIR}/src/agent/agent_metrics.cpp)
target_link_libraries(agent_metrics_tests PRIVATE tessivo_proc prometheus-cpp::pull GTest::gtest_main)
target_include_directories(agent_metrics_tests PRIVATE ${PROJECT_SOURCE_DIR}/src)
add_test(NAME agent_metrics_tests COMMAND agent_metrics_tests --gtest_brief=1)
