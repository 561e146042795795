#!/usr/bin/env python3
# Splices FLV files tag by tag into one recording (each part keeps its own onMetaData and codec
# headers, its timestamps moved on past the part before): a file with mid-stream metadata.
# splice_flv.py OUT PART...
import sys, struct
def tags(path):
    d=open(path,'rb').read()
    off=struct.unpack('>I',d[5:9])[0]
    p=off+4
    out=[]
    while p+11<=len(d):
        t=d[p]; size=int.from_bytes(d[p+1:p+4],'big')
        ts=int.from_bytes(d[p+4:p+7],'big')|(d[p+7]<<24)
        body=d[p+11:p+11+size]
        out.append((t,ts,d[p+8:p+11],body))
        p+=11+size+4
    return d[:off],out
def write(path,header,tl):
    o=bytearray(header)+b'\0\0\0\0'
    for t,ts,sid,body in tl:
        h=bytes([t])+len(body).to_bytes(3,'big')+(ts&0xffffff).to_bytes(3,'big')+bytes([(ts>>24)&0xff])+sid
        o+=h+body+(11+len(body)).to_bytes(4,'big')
    open(path,'wb').write(o)
out=sys.argv[1]; parts=sys.argv[2:]
allt=[];shift=0;header=None
for i,pth in enumerate(parts):
    h,tl=tags(pth)
    if header is None: header=h
    mx=0
    for t,ts,sid,body in tl:
        allt.append((t,ts+shift,sid,body)); mx=max(mx,ts)
    shift+=mx+40
write(out,header,allt)
