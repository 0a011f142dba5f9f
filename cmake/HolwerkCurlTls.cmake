# The native build asks libcurl's TLS session whether a server ended TLS with
# close_notify, and that question only OpenSSL's session answers. With a
# libcurl built on another TLS library every HTTPS body that the close of the
# connection delimits would fail, so configuring fails at once instead.
include(CheckCXXSourceRuns)

function(holwerk_require_curl_with_openssl)
  set(CMAKE_REQUIRED_LIBRARIES CURL::libcurl)
  set(CMAKE_REQUIRED_QUIET ON)
  check_cxx_source_runs([[
    #include <curl/curl.h>
    #include <cstring>
    int main() {
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        const char* tls = info->ssl_version;
        return tls != nullptr && std::strncmp(tls, "OpenSSL/3", 9) == 0 ? 0 : 1;
    }]] HOLWERK_CURL_USES_OPENSSL_3)
  if(NOT HOLWERK_CURL_USES_OPENSSL_3)
    message(FATAL_ERROR "libcurl must do its TLS with OpenSSL 3 (Debian: libcurl4-openssl-dev): "
                        "the native build asks OpenSSL's session whether a server ended TLS "
                        "with close_notify.")
  endif()
endfunction()
