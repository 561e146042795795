[main]
version=v1.9
lastversion=v1.9
releasedate=12-08-2026
