// The lines the window shows for a request.
#include <gtest/gtest.h>

#include "app/request_rules.h"

using namespace velmora;

TEST(DisplayLines, ShorteningLinkedFilesAndDeletes) {
  DownloadRequest r;
  r.Type = L"HTTP";
  r.SourceFileName = L"http://www.example.com/a/b/file.txt";
  EXPECT_EQ(PendingLine(r), L"http://www.example.com/.../file.txt");
  r.SourceFileName = L"HTTP://Host/file.txt";
  EXPECT_EQ(PendingLine(r), L"HTTP://Host/.../file.txt");
  r.SourceFileName = L"http://host.only";
  EXPECT_EQ(PendingLine(r), L"http://host.only");
  r.SourceFileName = L"https://h/a/b.txt";  // only http:// is shortened
  EXPECT_EQ(PendingLine(r), L"https://h/a/b.txt");

  r.Type = L"FTP";
  r.SourceFileName = L"ftp://h/d/story.txt";
  r.LinkedSourceFileName = L"ftp://h/d/story.jpg";
  EXPECT_EQ(PendingLine(r), L"ftp://h/d/story.txt + .jpg");
  EXPECT_EQ(CurrentFileLabel(r), L" ftp://h/d/story.txt + .jpg");
  r.LinkedSourceFileName = L"ftp://h/d/photo.jpg";
  EXPECT_EQ(PendingLine(r), L"ftp://h/d/story.txt + photo.jpg");
  r.LinkedSourceFileName = L"ftp://h/d/Story.jpg";  // stems compare exactly
  EXPECT_EQ(PendingLine(r), L"ftp://h/d/story.txt + Story.jpg");

  r.LinkedSourceFileName.clear();
  r.Type = L"FTPDELETE";
  EXPECT_EQ(PendingLine(r), L"Del:ftp://h/d/story.txt");
  r.Type = L"ftpdelete";
  EXPECT_EQ(PendingLine(r), L"ftp://h/d/story.txt");

  // The window shows no password either.
  r.SourceFileName = L"ftp://u:pa ss@h/d/story.txt";
  EXPECT_EQ(PendingLine(r), L"ftp://u:***@h/d/story.txt");
  EXPECT_EQ(CurrentFileLabel(r), L" ftp://u:***@h/d/story.txt");
  // Nor a token, a secret cut in two by the shortening included; and a line break or a NUL
  // of the source leaves one line.
  r.Type = L"HTTP";
  r.SourceFileName = L"http://TOKEN@h/a/f?X-Amz-Credential=AKIA/20240101/s3/req&X-Amz-Signature=5e1f\r\nx";
  r.SourceFileName += std::wstring(1, L'\0') + L"y";
  EXPECT_EQ(PendingLine(r), L"http://***@h/.../f?X-Amz-Credential=***&X-Amz-Signature=***<CR><LF>x y");
  EXPECT_EQ(CurrentFileLabel(r),
            L" http://***@h/a/f?X-Amz-Credential=***&X-Amz-Signature=***<CR><LF>x y");
}
